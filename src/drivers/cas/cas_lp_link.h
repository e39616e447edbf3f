// What the two CAS LP label-scale protocols share: the goods record, the
// line (open, send, counted reads and reads up to CR, each with its dump),
// the field encodings and the error texts of table B.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "comm/telepathy_ecr.h"
#include "util/chrarr.h"

// One goods record of the scale (texts CP1250 as the host gave them; names
// read back are as the scale sent them).
struct CasLpPluRecord {
    uint32_t plu = 0;
    std::string itemCode;    // at most 13 characters
    std::string name1;       // first name
    std::string name2;       // second name
    double price = 0.0;      // unit price
    double amount = 0.0;
    uint32_t department = 0;
    uint32_t sellDate = 0;
    uint32_t code = 0;
};

// The record's numbers as the scale holds them, checked against the fields.
struct CasLpFields {
    uint32_t itemCode = 0;
    uint32_t hundredths = 0;     // price x 100
    uint32_t thousandths = 0;    // amount x 1000
};

enum : int {
    CASLP_ERR_REFUSED = 24,      // LP-1: the record was not taken in three tries
    CASLP_ERR_PLU_RANGE = 105,
    CASLP_ERR_PRICE_RANGE = 109, // price or amount out of range
    CASLP_ERR_NO_PLU = 202,      // the scale holds no such PLU
    CASLP_ERR_BAD_ANSWER = 9999, // an answer of the wrong form or length; a field that does not fit
};

class CCasLpLink : public CTelepathyECR {
public:
    CCasLpLink();

    std::string GetErrorText(int code) override;

    // The 18 Polish letters of code page 1250 as plain ASCII letters.
    static CChrArr MapPolishLetters(const CChrArr& text);
    // A name as the record holds it: letters mapped, padded with spaces or
    // cut to 28 bytes.
    static CChrArr NameField(const std::string& name);
    // The item code as a number: padded on the left with "0" to 6
    // characters (a longer code keeps its first 6), read up to the first
    // byte that is not a digit.
    static uint32_t ItemCodeNumber(const std::string& code);
    // The number written back as text: at least 6 digits, "0" in front.
    static std::string ItemCodeText(uint32_t number);
    // Checks and converts the record's numbers: a price outside 0..999999
    // hundredths or an amount outside 0..65535 thousandths gives 109; a sell
    // date or code above 16 bits, or a department above `departmentBits`,
    // gives 9999. 0 when everything fits.
    static int CheckFields(const CasLpPluRecord& record, int departmentBits, CasLpFields& out);

    static CChrArr BigEndian(uint32_t value, int bytes);
    static CChrArr LittleEndian(uint32_t value, int bytes);
    static uint32_t ReadBigEndian(const CChrArr& bytes, int at, int count);      // 0-based
    static uint32_t ReadLittleEndian(const CChrArr& bytes, int at, int count);
    // A 28-byte name field of a record read back.
    static std::string ReadName(const CChrArr& bytes, int at);

protected:
    // Writes with a 5 s time-out and waits 5 s for the output to drain.
    int Send(const CChrArr& bytes);
    // Exactly n bytes within 5 s; a short read fails with the line's error.
    int ReadCount(int n, CChrArr& out);
    // Bytes up to and including CR, at most `max`, within 5 s.
    int ReadLine(int max, CChrArr& out);
    // The line's error, else 9999.
    int LineFailed();
    // An answer of the wrong form (9999): the rest of it may still be
    // coming, so the next request waits for the line to go quiet.
    int WrongAnswer();
    // A break ends nothing between a request and the rest of the command
    // the scale then waits for: a scale left waiting for a record would take
    // the next requests' bytes for it. The rest runs with the break held
    // off (an answer still owed is waited for one second once a break came);
    // a break that came meanwhile is reported (-7) when it is done.
    int RestOfCommand(const std::function<int()>& rest);
    // -7 when a break is set (nothing sent), else 1.
    int NotBroken();

private:
    void TakeBreak();        // while holding: a break set is noted and cleared
    int IoSeconds() const;
    bool m_holding = false;
    bool m_breakCame = false;
};
