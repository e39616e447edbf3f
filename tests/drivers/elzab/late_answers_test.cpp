// A register that answers late, and a host that breaks a job off and at
// once starts the next one on the same port: an answer the library has
// given up on is never read as an answer of the next job.
#include "drivers/elzab/elzab_fixture.h"

namespace orv::test {
namespace {

class ElzabLateAnswers : public ElzabTest {
protected:
    // The register's rates as a clean read gives them.
    VatRates CleanRates() {
        Host().Reset();
        EXPECT_EQ(Run([&] { return EcrReadVAT(&device, RecordingHost::OnVat); }), 0) << Utf8(ErrMsg());
        const auto vat = Host().VatCalls();
        return vat.empty() ? VatRates{} : vat[0];
    }
};

TEST_F(ElzabLateAnswers, ABreakThenAtOnceTheNextJobReadsTheRegistersOwnData) {
    Register(27, 13);
    for (uint32_t n = 1; n <= 40; ++n) reg->AddPlu(n, "Towar " + std::to_string(n), 1, 1, 1.0 + n);
    const VatRates rates = CleanRates();
    ASSERT_EQ(rates[0], 23.0);

    for (int delay : {200, 30}) {
        reg->SetAnswerDelay(delay);
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE("answers " + std::to_string(delay) + " ms late, round " + std::to_string(round));
            Host().Reset();
            ASSERT_EQ(EcrReadAllPLU(&device, RecordingHost::OnItemRead), 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(100 + 7 * round));
            EcrBreakJob();
            ASSERT_TRUE(WaitDone(5000));
            EXPECT_EQ(EcrError(), -7);

            Host().Reset();
            ASSERT_EQ(EcrReadVAT(&device, RecordingHost::OnVat), 1) << Utf8(ErrMsg());
            ASSERT_TRUE(WaitDone(10000));
            EXPECT_EQ(EcrError(), 0) << Utf8(ErrMsg());
            const auto vat = Host().VatCalls();
            ASSERT_EQ(vat.size(), 1u);
            EXPECT_EQ(vat[0], rates);
        }
    }
}

}  // namespace
}  // namespace orv::test
