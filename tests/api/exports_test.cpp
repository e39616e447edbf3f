// The exports and the dispatcher over the static core, with scripted logic
// objects put in place of the registry's through the test seam.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "job/job_block.h"
#include "api/registry.h"
#include "fakes/fake_logic.h"
#include "fakes/recording_host.h"
#include "orvanta/ecr.h"
#include "platform/control_host.h"
#include "util/cp1250.h"

using orv::test::CFakeLogic;
using orv::test::DeviceRecord;
using orv::test::Host;
using orv::test::RecordingHost;
using orv::test::SlotScript;
namespace api = orv::api;

namespace {

using Codes = std::vector<int>;

bool WaitDone(int ms = 10000) { return orv::test::WaitEcrDone(ms); }

// Holds the worker at a given event until released.
class Gate {
public:
    void HoldAt(int event) {
        Host().SetEventHook([this, event](const orv::test::HostEvent& e) {
            if (e.code != event) return;
            std::unique_lock<std::mutex> lock(m_mutex);
            m_held = true;
            m_cv.notify_all();
            m_cv.wait(lock, [&] { return m_open; });
        });
    }
    void WaitHeld() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [&] { return m_held; });
    }
    void Release() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_cv.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_held = false;
    bool m_open = false;
};

class Exports : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(WaitDone());
        Host().Reset();
        api::SetTestLogic("CS6_ECR", &s6);
        api::SetTestLogic("CEM_ECR", &em);
        api::SetTestLogic("CMDUSB_ECR", &mdusb);
        api::SetTestLogic("CMD_ECR", &md);
        ASSERT_EQ(EcrCreate(nullptr), 1);
        dev = DeviceRecord(1, 4);
    }
    void TearDown() override {
        EXPECT_TRUE(WaitDone());
        Host().Reset();
        api::ClearTestLogics();
    }

    CFakeLogic s6{"CS6_ECR"}, em{"CEM_ECR"}, mdusb{"CMDUSB_ECR"}, md{"CMD_ECR"};
    EcrDeviceRecord dev{};
    EcrItemRecord items[3]{};
};

TEST_F(Exports, JobRunsOnTheSelectedObjectAndReportsThroughIsDone) {
    ASSERT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0);
    EXPECT_STREQ(EcrErrMsg(), "");
    EXPECT_EQ(Host().EventCodes(), (Codes{1, 2, 4, 10, 11}));
    EXPECT_EQ(s6.Calls(), (std::vector<std::string>{"Open(4,type=1)", "ReadVAT(4)", "Close(4)"}));
    EXPECT_EQ(Host().VatCalls().size(), 1u);
}

TEST_F(Exports, SecondJobWithoutIsDoneIsRefusedEvenWhenTheFirstHasEnded) {
    ASSERT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 1);
    ASSERT_TRUE(orv::test::WaitJobEnd(s6));
    EXPECT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 0);
    EXPECT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 0);
    EXPECT_EQ(s6.Calls().size(), 3u);   // nothing of the refused jobs ran
    EXPECT_EQ(EcrIsDone(), 1);
    EXPECT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 1);
}

TEST_F(Exports, IsDoneIsZeroWhileTheJobRunsAndBreakReportsBusy) {
    Gate gate;
    gate.HoldAt(ECR_EVENT_WAIT);
    ASSERT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 1);
    gate.WaitHeld();
    EXPECT_EQ(EcrIsDone(), 0);
    EXPECT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 0);
    EXPECT_EQ(EcrBreakJob(), 1);
    EXPECT_TRUE(s6.IsBreakSet());
    gate.Release();
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrBreakJob(), 0);
}

TEST_F(Exports, CreateWhileAJobRunsChangesNothing) {
    Gate gate;
    gate.HoldAt(ECR_EVENT_WAIT);
    ASSERT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 1);
    gate.WaitHeld();
    EXPECT_EQ(EcrCreate(nullptr), 0);
    EXPECT_EQ(EcrIsDone(), 0);   // still the running job's object
    gate.Release();
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0);
    EXPECT_EQ(Host().EventCodes(), (Codes{1, 2, 4, 10, 11}));
}

TEST_F(Exports, BreakWithoutAJobReturnsZeroAndTheNextJobStartsClean) {
    // The object of the last job is the current one.
    ASSERT_EQ(EcrDelAllPLU(&dev, nullptr), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrBreakJob(), 0);
    EXPECT_TRUE(api::Serial().IsAborted());
    EXPECT_TRUE(api::Socket().IsBroken());
    EXPECT_TRUE(s6.IsBreakSet());

    bool serialAborted = true, socketBroken = true, jobBroken = true;
    Host().SetEventHook([&](const orv::test::HostEvent& e) {
        if (e.code != ECR_EVENT_WAIT) return;
        serialAborted = api::Serial().IsAborted();
        socketBroken = api::Socket().IsBroken();
        jobBroken = s6.IsBreakSet();
    });
    ASSERT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_FALSE(serialAborted);
    EXPECT_FALSE(socketBroken);
    EXPECT_FALSE(jobBroken);
    EXPECT_EQ(EcrError(), 0);
}

TEST_F(Exports, FromPluJobsStoreCountTwo) {
    ASSERT_EQ(EcrReadFromPLU(&dev, items, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(g_jobBlock.count, 2u);
    EXPECT_EQ(g_jobBlock.items, items);
    EXPECT_EQ(g_jobBlock.job, 16u);

    ASSERT_EQ(EcrPgmPLU(&dev, items, 3, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    ASSERT_EQ(EcrDelFromPLU(&dev, items, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(g_jobBlock.count, 2u);
    EXPECT_EQ(g_jobBlock.job, 17u);
    // Jobs 16 and 17 have no work: they fail with a code.
    EXPECT_EQ(EcrError(), 25);
}

TEST_F(Exports, OnlyTheProgrammingExportsWriteTheKind) {
    ASSERT_EQ(EcrUpDatePLU(&dev, items, 1, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(g_jobBlock.kind, 1u);
    ASSERT_EQ(EcrDelPLU(&dev, items, 1, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(g_jobBlock.kind, 1u);
    ASSERT_EQ(EcrPgmExBarcode(&dev, items, 2, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(g_jobBlock.kind, 2u);
    ASSERT_EQ(EcrPgmPLU(&dev, items, 3, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(g_jobBlock.kind, 0u);
    auto calls = s6.Calls();
    std::vector<std::string> slots;
    for (const auto& c : calls)
        if (c.rfind("Open", 0) != 0 && c.rfind("Close", 0) != 0) slots.push_back(c);
    EXPECT_EQ(slots, (std::vector<std::string>{"PgmPLU(4,1,kind=1)", "DelPLU(4,1)", "PgmPLU(4,2,kind=2)",
                                               "PgmPLU(4,3,kind=0)"}));
}

TEST_F(Exports, SomeCallbacksSurviveBetweenJobsAndOthersAreReset) {
    EcrDeptRecord depts[1]{};
    EcrUnitRecord units[1]{};
    ASSERT_EQ(EcrReadStatus(&dev, &RecordingHost::OnStatus), 1);
    ASSERT_TRUE(WaitDone());
    ASSERT_EQ(EcrPgmDEPT(&dev, depts, 1, &RecordingHost::OnDeptProgram), 1);
    ASSERT_TRUE(WaitDone());
    ASSERT_EQ(EcrPgmUNIT(&dev, units, 1, &RecordingHost::OnUnitProgram), 1);
    ASSERT_TRUE(WaitDone());
    ASSERT_EQ(EcrReadAllDEPT(&dev, &RecordingHost::OnDeptRead), 1);
    ASSERT_TRUE(WaitDone());
    ASSERT_EQ(EcrReadAllUnit(&dev, &RecordingHost::OnUnitRead), 1);
    ASSERT_TRUE(WaitDone());
    ASSERT_EQ(EcrReadSale(&dev, &RecordingHost::OnSale), 1);
    ASSERT_TRUE(WaitDone());
    ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitDone());
    ASSERT_EQ(EcrDelAllPLU(&dev, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    ASSERT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 1);
    ASSERT_TRUE(WaitDone());

    // After the VAT job: kept from earlier jobs...
    EXPECT_EQ(g_jobBlock.vatCb, &RecordingHost::OnVat);
    EXPECT_EQ(g_jobBlock.statusCb, &RecordingHost::OnStatus);
    EXPECT_EQ(g_jobBlock.deptPgmCb, &RecordingHost::OnDeptProgram);
    EXPECT_EQ(g_jobBlock.unitPgmCb, &RecordingHost::OnUnitProgram);
    // ...and reset for every job.
    EXPECT_EQ(g_jobBlock.itemPgmCb, nullptr);
    EXPECT_EQ(g_jobBlock.itemReadCb, nullptr);
    EXPECT_EQ(g_jobBlock.saleCb, nullptr);
    EXPECT_EQ(g_jobBlock.unitReadCb, nullptr);
    EXPECT_EQ(g_jobBlock.deptReadCb, nullptr);
}

TEST_F(Exports, RecordCopyIsBoundedAndCarriesTheCallback) {
    std::memset(dev.address, 'a', sizeof dev.address);   // no terminator
    dev.word11 = 11;
    dev.flags = 0x2;
    ASSERT_EQ(EcrDelAllPLU(&dev, nullptr), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(std::string(g_jobBlock.device.address), std::string(63, 'a'));
    EXPECT_EQ(g_jobBlock.device.word11, 11);
    EXPECT_EQ(g_jobBlock.device.flags, 0x2u);
    EXPECT_EQ(g_jobBlock.progressCb, &RecordingHost::OnProgress);
    EcrProgressCallback copied = g_jobBlock.device.progress;   // a packed field: read by value
    EXPECT_EQ(copied, &RecordingHost::OnProgress);
}

struct TypeCase {
    int type;
    int kind;
    const char* name;   // null: no object
};

TEST(Dispatch, TypeCodeTable) {
    const TypeCase cases[] = {
        {1, 0, "CS6_ECR"},       {6, 0, "CS6_ECR"},        {22, 7, "CEM_ECR"},      {102, 13, "CEM_ECR"},
        {700, 8, "CEM_ECR"},     {700, 11, "CS6_ECR"},     {701, 10, "CEM_ECR"},    {701, 2, "CS6_ECR"},
        {98, 9, "CEM_ECR"},      {98, 12, "CS6_ECR"},      {20, 0, "CEM_ECR"},      {99, 0, "CEM_ECR"},
        {85, 0, "CTN_ECR"},      {86, 11, "CTN_ECR"},      {12, 0, "CTA_ECR"},      {70, 0, "CTA_ECR"},
        {26, 0, "CP3_ECR"},      {87, 0, "CP3_ECR"},       {21, 0, "CPE_ECR"},      {62, 0, "CPF_ECR"},
        {10, 0, "CPC_ECR"},      {96, 0, "CPC_ECR"},       {33, 0, "CSH_ECR"},      {18, 0, "CS5_ECR"},
        {97, 0, "CSH285_ECR"},   {47, 0, "CSH7_ECR"},      {50, 0, "CSH277PS_ECR"}, {25, 0, "CSH9_ECR"},
        {74, 0, "CSH227_ECR"},   {19, 0, "CAD_ECR"},       {11, 0, "CCR_ECR"},      {9, 0, "COP_ECR"},
        {15, 0, "CD1_ECR"},      {37, 0, "CD1_ECR"},       {40, 0, "CD5_ECR"},      {13, 0, "CDS_ECR"},
        {36, 0, "CDS_ECR"},      {109, 0, "CDSP_ECR"},     {101, 0, "CD8_ECR"},     {64, 0, "CEL_ECR"},
        {16, 0, "CEL50_ECR"},    {17, 0, "CEL50_ECR"},     {75, 0, "CEMS_ECR"},     {7, 0, "CEN_ECR"},
        {10043, 0, "CEN_ECR"},   {23, 0, "CHI_ECR"},       {52, 0, "CHT_ECR"},      {88, 0, "CHT_ECR"},
        {8, 0, "CNCR_ECR"},      {111, 0, "CCAS_XML_ECR"}, {105, 0, "CLP_ECR"},     {110, 0, "CLP16_ECR"},
        {103, 0, "CDI_ECR"},     {104, 0, "CDI_ECR"},      {114, 0, "CDI500_ECR"},  {100, 0, "CMD_ECR"},
        {100, 5, "CMDUSB_ECR"},  {106, 0, "CMDUSB_ECR"},   {106, 5, "CMDUSB_ECR"},  {112, 0, "CMEL_ECR"},
        {108, 0, "CDG_ECR"},     {115, 0, "CEP_ECR"},      {107, 0, "CMX_ECR"},     {39, 0, "CMP_ECR"},
        {42, 0, "CMP_ECR"},      {113, 0, "CMPR_ECR"},     {51, 0, nullptr},        {0, 0, nullptr},
        {-1, 0, nullptr},        {116, 0, nullptr},        {702, 0, nullptr},       {10042, 0, nullptr},
        {-700, 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.kind));
        const char* name = api::SelectLogicName(c.type, c.kind);
        if (!c.name) {
            EXPECT_EQ(name, nullptr);
            EXPECT_EQ(api::SelectLogic(c.type, c.kind), nullptr);
            continue;
        }
        ASSERT_NE(name, nullptr);
        EXPECT_STREQ(name, c.name);
        EXPECT_EQ(api::SelectLogic(c.type, c.kind), api::FindLogic(c.name));
    }
}

TEST(Dispatch, OneObjectPerClassAndNoCodeSelectsTheCasBase) {
    EXPECT_EQ(api::LogicCount(), 44);
    ASSERT_NE(api::FindLogic("CCAS_ECR"), nullptr);
    std::set<const char*> selected;
    for (int type = -5; type <= 1000; ++type)
        for (int kind : {0, 5, 7, 11})
            if (const char* n = api::SelectLogicName(type, kind)) selected.insert(api::FindLogic(n) ? n : nullptr);
    selected.insert(api::SelectLogicName(10043, 0));
    EXPECT_EQ(selected.size(), 43u);   // every class but CCAS_ECR
    for (const char* n : selected) EXPECT_STRNE(n, "CCAS_ECR");
    EXPECT_EQ(&api::DefaultLogic(), api::FindLogic("CS6_ECR"));
}

TEST_F(Exports, KindSelectsTheVariantObject) {
    struct Case {
        int type;
        int kind;
        CFakeLogic* runs;
    } cases[] = {{700, 8, &em}, {700, 11, &s6}, {100, 5, &mdusb}, {106, 0, &mdusb}, {100, 1, &md}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.kind));
        for (CFakeLogic* f : {&s6, &em, &mdusb, &md}) f->ClearCalls();
        dev.type = c.type;
        dev.kind = c.kind;
        ASSERT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 1);
        ASSERT_TRUE(WaitDone());
        for (CFakeLogic* f : {&s6, &em, &mdusb, &md}) EXPECT_EQ(f->Calls().empty(), f != c.runs) << f->Name();
    }
}

TEST_F(Exports, TypeOutsideTheTableIsRefusedWithASystemError) {
    for (int type : {51, 0, -3, 116, 9999}) {
        SCOPED_TRACE(type);
        ASSERT_EQ(EcrCreate(nullptr), 1);
        dev.type = type;
        EXPECT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 0);
        EXPECT_EQ(EcrIsDone(), 1);
        EXPECT_EQ(EcrError(), 999999);
        EXPECT_STREQ(EcrErrMsg(), PL("System kas fiskalnych - błąd systemu !"));
        EXPECT_TRUE(Host().Events().empty());
    }
    // The busy flag was cleared: the next job is taken.
    dev.type = 1;
    EXPECT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 1);
}

TEST_F(Exports, FailedJobsErrorSurvivesAnOutOfTableJob) {
    s6.readVat = SlotScript{0, 7, "no rates"};
    ASSERT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 1);
    ASSERT_TRUE(WaitDone());
    ASSERT_EQ(EcrError(), 7);
    dev.type = 51;
    EXPECT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 0);
    EXPECT_EQ(EcrError(), 7);
    EXPECT_STREQ(EcrErrMsg(), "no rates");
}

TEST_F(Exports, OpenFailureRefusesTheJobWithTheDevicesCode) {
    s6.open = SlotScript{0, -3, "port not open"};
    EXPECT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 0);
    EXPECT_EQ(EcrIsDone(), 1);
    EXPECT_EQ(EcrError(), -3);
    EXPECT_STREQ(EcrErrMsg(), "port not open");
    EXPECT_EQ(Host().EventCodes(), (Codes{1, 8, 8}));

    // The next start clears the code and the text.
    s6.open = SlotScript{};
    ASSERT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0);
    EXPECT_STREQ(EcrErrMsg(), "");
}

TEST_F(Exports, NullRecordIsRefusedWithBadParameters) {
    EXPECT_EQ(EcrReadVAT(nullptr, &RecordingHost::OnVat), 0);
    EXPECT_EQ(EcrError(), -1);
    EXPECT_STREQ(EcrErrMsg(), PL("Niewłaściwe parametry zadania"));
    EXPECT_EQ(EcrIsDone(), 1);
    EXPECT_EQ(EcrPgmPLU(nullptr, items, 1, nullptr), 0);
    EXPECT_EQ(EcrReadFromPLU(nullptr, items, nullptr), 0);
    EXPECT_EQ(EcrDelAllPLU(nullptr, nullptr), 0);
    EXPECT_TRUE(s6.Calls().empty());
    // A null item array with a record starts the job, which fails cleanly.
    ASSERT_EQ(EcrPgmPLU(&dev, nullptr, 3, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), -1);
    EXPECT_EQ(Host().EventCodes().back(), ECR_EVENT_CLOSED);
}

TEST_F(Exports, CreateClearsTheErrorOfTheDefaultObject) {
    dev.type = 51;
    EXPECT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 0);
    ASSERT_EQ(EcrError(), 999999);
    EXPECT_EQ(EcrCreate(nullptr), 1);
    EXPECT_EQ(EcrError(), 0);
    EXPECT_STREQ(EcrErrMsg(), "");
}

TEST_F(Exports, UnservedFamilyIsRefusedAtStartWithAClearError) {
    api::ClearTestLogics();
    dev.type = 64;   // Elcom: a family this version does not serve
    EXPECT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 0);
    EXPECT_EQ(EcrIsDone(), 1);
    EXPECT_EQ(EcrError(), 999999);
    EXPECT_STREQ(EcrErrMsg(), PL("Brak obsługi urządzenia tego typu w tej wersji biblioteki"));
    EXPECT_EQ(Host().EventCodes(), (Codes{1, 6, 8}));
}

// ---- the fiscal control ----

class CountingControls : public orv::platform::ControlFactory {
public:
    class Control : public orv::platform::HostedControl {
    public:
        explicit Control(CountingControls& owner) : m_owner(owner) {}
        ~Control() override { ++m_owner.destroyed; }
        bool Invoke(int id, orv::platform::InvokeKind kind, std::vector<orv::platform::Variant>& args,
                    orv::platform::Variant*) override {
            if (kind != orv::platform::InvokeKind::Put || args.size() != 1) return false;
            m_owner.properties.push_back(std::to_string(id) + "=" + args[0].AsText());
            return true;
        }

    private:
        CountingControls& m_owner;
    };
    orv::platform::DispatchRef Create(const std::string& classId, EcrWindow parent, int childId) override {
        created.push_back(classId + "/" + std::to_string(childId));
        lastParent = parent;
        return orv::platform::MakeDispatch<Control>(*this);
    }
    std::vector<std::string> created;
    std::vector<std::string> properties;
    EcrWindow lastParent = nullptr;
    int destroyed = 0;
};

TEST_F(Exports, PreCreateCreatesAndDestroysTheFiscalControlOnce) {
    CountingControls controls;
    orv::platform::SetControlFactory(&controls);
    int window = 0;
    EXPECT_EQ(EcrPreCreate(&window), 1);
    EXPECT_EQ(EcrPreCreate(&window), 1);
    orv::platform::SetControlFactory(nullptr);
    ASSERT_EQ(controls.created.size(), 1u);
    EXPECT_EQ(controls.created[0], "{B4F82C16-873D-4120-9731-227DB4A13B0F}/2002");
    EXPECT_EQ(controls.lastParent, &window);
    EXPECT_EQ(controls.properties, (std::vector<std::string>{"30="}));
    EXPECT_EQ(controls.destroyed, 1);
    EXPECT_FALSE(orv::platform::FiscalControlWindow().IsCreated());
}

TEST_F(Exports, DeleteDestroysTheFiscalControlOnlyAfterItsTypes) {
    CountingControls controls;
    orv::platform::SetControlFactory(&controls);
    ASSERT_TRUE(orv::platform::CreateFiscalControl(nullptr));
    CFakeLogic p3{"CP3_ECR"}, proxima{"CMPR_ECR"};
    api::SetTestLogic("CP3_ECR", &p3);
    api::SetTestLogic("CMPR_ECR", &proxima);

    for (int type : {1, 113}) {   // Proxima has no control of its own here
        SCOPED_TRACE(type);
        dev.type = type;
        ASSERT_EQ(EcrDelAllPLU(&dev, nullptr), 1);
        ASSERT_TRUE(WaitDone());
        EXPECT_EQ(EcrDelete(), 1);
        EXPECT_TRUE(orv::platform::FiscalControlWindow().IsCreated());
    }
    dev.type = 26;
    ASSERT_EQ(EcrDelAllPLU(&dev, nullptr), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrDelete(), 1);
    EXPECT_FALSE(orv::platform::FiscalControlWindow().IsCreated());
    EXPECT_EQ(controls.destroyed, 1);
    orv::platform::SetControlFactory(nullptr);
}

TEST(ControlHost, NoControlIsAvailableByDefault) {
    EXPECT_FALSE(orv::platform::CreateFiscalControl(nullptr));
    EXPECT_FALSE(orv::platform::FiscalControlWindow().IsCreated());
    orv::platform::DestroyFiscalControl();   // harmless without a control
}

}  // namespace
