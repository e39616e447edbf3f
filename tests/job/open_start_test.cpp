// The start of the Open slot of the families with one protocol object on the
// serial line: what a job handed no device record, or no serial object, ends
// with. The families differ in the first answer (their own text for -1, the
// job's "bad parameters" text, or the system error); none of them touches the
// line in either case.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/registry.h"
#include "comm/telepathy.h"
#include "comm/telepathy_ecr.h"
#include "fakes/fake_logic.h"
#include "job/logic_ecr.h"
#include "orvanta/ecr.h"
#include "util/cp1250.h"

namespace {

enum class NoRecord { OwnText, JobParameters, SystemError };

struct OpenCase {
    const char* className;
    NoRecord noRecord;
};

const std::vector<OpenCase> kCases = {
    {"CHI_ECR", NoRecord::OwnText},         {"CMP_ECR", NoRecord::OwnText},
    {"CMD_ECR", NoRecord::OwnText},         {"CMDUSB_ECR", NoRecord::OwnText},
    {"CLP_ECR", NoRecord::OwnText},         {"CLP16_ECR", NoRecord::OwnText},
    {"CEL50_ECR", NoRecord::OwnText},       {"CEMS_ECR", NoRecord::OwnText},
    {"CNCR_ECR", NoRecord::OwnText},        {"CDI_ECR", NoRecord::JobParameters},
    {"CDG_ECR", NoRecord::JobParameters},   {"CCAS_XML_ECR", NoRecord::JobParameters},
    {"CMPR_ECR", NoRecord::JobParameters},  {"CDI500_ECR", NoRecord::JobParameters},
    {"CEP_ECR", NoRecord::JobParameters},   {"CCR_ECR", NoRecord::SystemError},
    {"CAD_ECR", NoRecord::SystemError},     {"COP_ECR", NoRecord::SystemError},
    {"CPE_ECR", NoRecord::SystemError},     {"CPF_ECR", NoRecord::SystemError},
    {"CSH227_ECR", NoRecord::SystemError},  {"CSH_ECR", NoRecord::SystemError},
    {"CS5_ECR", NoRecord::SystemError},     {"CSH285_ECR", NoRecord::SystemError},
    {"CSH7_ECR", NoRecord::SystemError},    {"CSH277PS_ECR", NoRecord::SystemError},
    {"CSH9_ECR", NoRecord::SystemError},    {"CD1_ECR", NoRecord::SystemError},
    {"CD5_ECR", NoRecord::SystemError},     {"CDS_ECR", NoRecord::SystemError},
    {"CDSP_ECR", NoRecord::SystemError},    {"CD8_ECR", NoRecord::SystemError},
};

const std::string kSystemText = PL("System kas fiskalnych - błąd systemu !");
const std::string kJobParametersText = PL("Niewłaściwe parametry zadania");

TEST(OpenStart, MissingRecordOrSerialFailsWithTheFamilysCodeAndText) {
    for (const OpenCase& c : kCases) {
        SCOPED_TRACE(c.className);
        CLogicECR* logic = orv::api::FindLogic(c.className);
        ASSERT_NE(logic, nullptr);
        logic->SetSerial(nullptr);
        logic->SetProtocol(nullptr);

        logic->SetError(0, "");
        EXPECT_EQ(logic->Open(1, nullptr), 0);
        switch (c.noRecord) {
        case NoRecord::OwnText:
            EXPECT_EQ(logic->GetErrorCode(), -1);
            EXPECT_EQ(logic->GetErrorMessage(), logic->GetErrorText(-1));
            break;
        case NoRecord::JobParameters:
            EXPECT_EQ(logic->GetErrorCode(), -1);
            EXPECT_EQ(logic->GetErrorMessage(), kJobParametersText);
            break;
        case NoRecord::SystemError:
            EXPECT_EQ(logic->GetErrorCode(), 999999);
            EXPECT_EQ(logic->GetErrorMessage(), kSystemText);
            break;
        }

        // A record but no serial object lent: the system error.
        EcrDeviceRecord record{};
        record.type = 1;
        record.port = 1;
        record.baud = 9600;
        logic->SetError(0, "");
        EXPECT_EQ(logic->Open(1, &record), 0);
        EXPECT_EQ(logic->GetErrorCode(), 999999);
        EXPECT_EQ(logic->GetErrorMessage(), kSystemText);
    }
}

// The fallback code of a failed step: taken only when the protocol holds no
// code of its own; 0 leaves the protocol's code as it is.
TEST(OpenStart, FailedStepTakesTheFallbackOnlyWhenTheProtocolHoldsNoCode) {
    struct Case {
        int protocolCode;
        int fallback;
        int expected;
    };
    const Case cases[] = {{0, 9999, 9999}, {0, 0, 0}, {-3, 9999, -3}, {25, 0, 25}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.protocolCode * 100000 + c.fallback);
        orv::test::CFakeLogic logic;
        CTelepathyECR protocol;
        protocol.m_nError = c.protocolCode;
        logic.SetError(1, "stale");
        EXPECT_EQ(logic.ProtocolFailed(protocol, c.fallback), 0);
        EXPECT_EQ(logic.GetErrorCode(), c.expected);
        EXPECT_EQ(logic.GetErrorMessage(), logic.GetErrorText(c.expected));
    }
}

// The family's open step runs with the record once the serial object is
// lent and the protocol registered; its failure is taken with the fallback.
TEST(OpenStart, OpenStepRunsWithTheRecordAndItsFailureTakesTheFallback) {
    orv::test::CFakeLogic logic;
    CTelepathy serial;
    CTelepathyECR protocol;
    logic.SetSerial(&serial);
    EcrDeviceRecord record{};
    record.baud = 19200;

    const EcrDeviceRecord* seen = nullptr;
    EXPECT_EQ(logic.OpenSerialProtocol(protocol, &record, 4321, CLogicECR::NoRecordAnswer::SystemError,
                                       [&](const EcrDeviceRecord& r) {
                                           seen = &r;
                                           EXPECT_EQ(logic.GetProtocol(), &protocol);
                                           return 0;
                                       }),
              0);
    EXPECT_EQ(seen, &record);
    EXPECT_EQ(logic.GetErrorCode(), 4321);
    EXPECT_EQ(logic.GetErrorMessage(), logic.GetErrorText(4321));

    logic.SetError(0, "");
    EXPECT_EQ(logic.OpenSerialProtocol(protocol, &record, 4321, CLogicECR::NoRecordAnswer::SystemError,
                                       [](const EcrDeviceRecord&) { return 1; }),
              1);
    EXPECT_EQ(logic.GetErrorCode(), 0);
}

}  // namespace
