// An Elemis register on the master side of a pseudo-terminal. It decodes
// the 302-byte coded request frames (0x03, 299 bytes with bit 7 set, 0x04,
// 0xFF), keeps 10,000 goods slots of 64 bytes (VAT byte 0xFF: empty), the
// 256-byte department table, sale records, VAT rates and identification,
// and answers status 2, or 3 with 299 coded bytes and 0x04. Requests other
// than the link-open are refused (status 1) while the link is not open, and
// a link-open with another link constant is refused too.
//
//   ElemisEmulator reg(4);
//   reg.Start();
//   reg.SetPlu(42, "5901234123457", "Mleko", 1.99, 1, 0);
//   ... run the library ...
//   reg.Requests();        // type and address of every request
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "sim/emulator_base.h"

namespace orv::test {

class ElemisEmulator : public EmulatorBase {
public:
    struct Request {
        uint8_t type;
        uint8_t addr0, addr1;
        Bytes payload;        // 256 bytes
    };
    // FlippedBit: the data frame comes whole, with bit 0 of record byte
    // `at` (0-based, the type byte first) flipped on the line.
    // SpoiltStatus: a data answer whose status byte came as `status`, the
    // coded record 10 ms after it.
    enum class Answer { Normal, Status, Short, Garbage, Silence, FlippedBit, SpoiltStatus };

    explicit ElemisEmulator(int port = 1);
    ~ElemisEmulator() override;

    // ---- register state ----
    void SetLinkConstant(const std::string& digits);     // default "000000000000"
    void SetPlu(uint32_t number, const std::string& code13, const std::string& name, uint32_t hundredths,
                uint8_t vatIndex, uint8_t attribute);
    Bytes PluSlot(uint32_t number) const;                 // 64 bytes
    void SetDeptTable(const Bytes& table);
    Bytes DeptTable() const;
    void AddSale(const std::string& code13, uint32_t thousandths, uint32_t hundredths);
    void SetVat(int index, uint16_t hundredths);
    void SetIdentification(const std::string& eleven);
    bool Linked() const;
    int SaleClears() const;

    // ---- faults: how the next request of `type` (-1 any) is answered ----
    void Inject(int type, Answer answer, uint8_t status = 0, int at = 0);

    std::vector<Request> Requests() const;
    void ClearRequests();
    int CountRequests(uint8_t type) const;
    void SetRecording(bool on);

    // The coded frame of a record (as the library codes it).
    static Bytes Code(const Bytes& record);

protected:
    void OnReceive(const uint8_t* data, size_t n) override;

private:
    void Handle(const Bytes& record);   // under m_state
    void Data(const Bytes& payload);    // under m_state
    void Status(uint8_t status);        // under m_state

    Bytes m_input;
    mutable std::mutex m_state;
    std::string m_link = "000000000000";
    bool m_linked = false;
    std::vector<Bytes> m_plu;
    Bytes m_depts;
    std::vector<Bytes> m_sales;
    std::array<uint16_t, 8> m_vat{};
    std::string m_id = "ABC12345678";
    int m_clears = 0;
    struct Injection {
        int type;
        Answer answer;
        uint8_t status;
        int at;
    };
    std::deque<Injection> m_injections;
    Answer m_answer = Answer::Normal;
    uint8_t m_answerStatus = 0;
    int m_answerAt = 0;
    std::vector<Request> m_requests;
    bool m_recording = true;
};

}  // namespace orv::test
