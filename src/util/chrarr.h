// CChrArr: the byte string every frame, reply and field is built from,
// and the free helpers over it (slices, padding, numbers, code pages).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A growable byte array with value semantics that also behaves as text.
// It holds any byte (0 included) and is never itself zero-terminated.
class CChrArr {
public:
    CChrArr() = default;
    CChrArr(const CChrArr&) = default;
    CChrArr(CChrArr&&) noexcept = default;
    CChrArr(int count, uint8_t byte);                 // count copies of one byte
    CChrArr(const char* text);                        // bytes of a zero-terminated string (null -> empty)
    CChrArr(const uint8_t* data, size_t size);
    explicit CChrArr(const std::string& text);        // all characters of the string

    CChrArr& operator=(const CChrArr&) = default;
    CChrArr& operator=(CChrArr&&) noexcept = default;
    CChrArr& operator=(const std::string& text);
    CChrArr& operator=(const char* text);
    CChrArr& operator=(uint8_t byte);                 // becomes that one byte

    CChrArr& operator+=(const CChrArr& other);        // appending itself leaves it unchanged
    CChrArr& operator+=(uint8_t byte);
    CChrArr& operator+=(const char* text);

    // 0 when equal. Compared over the left array's length, prefix-based;
    // an empty array on either side is unequal to everything.
    int Compare(const CChrArr& other) const;
    int Compare(const char* text) const;

    int GetLength() const { return static_cast<int>(m_bytes.size()); }
    bool IsEmpty() const { return m_bytes.empty(); }
    int Find(uint8_t ch, int start = 0) const;        // 0-based, -1 when absent; negative start counts as 0
    CChrArr Left(int n) const;
    CChrArr Right(int n) const;
    CChrArr Mid(int start, int count) const;          // 0-based
    CChrArr Mid(int start) const;
    void Reverse();
    std::string ToString() const;                     // exactly the bytes, full length

    // Byte access and raw storage.
    uint8_t operator[](int i) const { return m_bytes[static_cast<size_t>(i)]; }
    uint8_t& operator[](int i) { return m_bytes[static_cast<size_t>(i)]; }
    uint8_t GetAt(int i) const { return m_bytes[static_cast<size_t>(i)]; }
    void SetAt(int i, uint8_t b) { m_bytes[static_cast<size_t>(i)] = b; }
    void Add(uint8_t b) { m_bytes.push_back(b); }
    void Append(const uint8_t* data, size_t size) { m_bytes.insert(m_bytes.end(), data, data + size); }
    void SetSize(int n) { m_bytes.resize(n < 0 ? 0 : static_cast<size_t>(n)); }
    void RemoveAll() { m_bytes.clear(); }
    void RemoveAt(int index, int count = 1);
    const uint8_t* data() const { return m_bytes.data(); }
    uint8_t* data() { return m_bytes.data(); }
    const std::vector<uint8_t>& bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

CChrArr operator+(const CChrArr& a, const CChrArr& b);
CChrArr operator+(const CChrArr& a, const char* b);
CChrArr operator+(const char* a, const CChrArr& b);
CChrArr operator+(uint8_t a, const CChrArr& b);
CChrArr operator+(const CChrArr& a, uint8_t b);
bool operator==(const CChrArr& a, const CChrArr& b);
bool operator!=(const CChrArr& a, const CChrArr& b);
bool operator==(const CChrArr& a, const char* b);
bool operator!=(const CChrArr& a, const char* b);
bool operator==(const char* a, const CChrArr& b);
bool operator!=(const char* a, const CChrArr& b);

CChrArr CStringToChrArr(const std::string& s);
// Writes exactly n bytes (the array, then zero bytes) and a terminator at dst[n].
char* ChrArrToBuffer(char* dst, const CChrArr& src, int n);
// Copies at most n characters, zero-fills the rest of n, terminator at dst[n].
// For a char[N] field pass N - 1.
char* StrNCopyZ(char* dst, const char* src, int n);

// ---- helpers; positions are 1-based where said ----
CChrArr ChrMid(const CChrArr& s, int pos, int len);           // len 0: to the end
CChrArr ChrRight(const CChrArr& s, int n);
CChrArr ChrPadLeft(const CChrArr& s, int width, uint8_t pad);  // longer input keeps its leftmost width bytes
CChrArr ChrPadRight(const CChrArr& s, int width, uint8_t pad);
CChrArr ChrTrim(const CChrArr& s, uint8_t ch);
CChrArr ChrTrimLeft(const CChrArr& s);
CChrArr ChrFill(uint8_t ch, int n);
CChrArr ChrSpaces(int n);
CChrArr ChrRepeat(const CChrArr& s, int n);
CChrArr ChrReplace(const CChrArr& s, uint8_t from, uint8_t to);
CChrArr ChrSetAt(const CChrArr& s, int pos, uint8_t ch);
CChrArr ChrReverse(const CChrArr& s);
CChrArr ChrUpper(const CChrArr& s);                           // a-z only
int ChrIndexOf(const CChrArr& what, const CChrArr& s);        // first byte of what; 0 when absent
bool ChrIsAlpha(const CChrArr& s);
bool ChrIsDigit(const CChrArr& s);
bool IsCp852PolishLetter(const CChrArr& s);
CChrArr WordToChr(uint16_t v);
CChrArr DWordToChr(uint32_t v);
uint16_t ChrToWord(const CChrArr& s);                         // 0 unless exactly 2 bytes
uint32_t ChrToDWord(const CChrArr& s);                        // 0 unless exactly 4 bytes
CChrArr NumToText(uint32_t v, int width, uint8_t pad, int base);  // never cut
CChrArr IntToText(int32_t v, int width);
CChrArr ZeroPadded(uint64_t v, int width);                     // decimal, '0' in front; never cut

// DoubleToText takes its decimals and width as distinct types so that a call
// site cannot swap them: DoubleToText(v, Decimals{2}, Width{11}).
struct Decimals { int value; };
struct Width { int value; };
CChrArr DoubleToText(double v, Decimals decimals, Width width);
CChrArr DoubleToText(double v, Width width, Decimals decimals);

// Signed: clamped to the int32 limits; unsigned: 0..0xFFFFFFFF as a 32-bit strtoul.
int64_t StrToNum(const CChrArr& s, int base, int isSigned);
// One hexadecimal digit (0-9, A-F, a-f) as 0..15; -1 for any other byte.
int HexDigit(uint8_t c);
// A non-empty run of hexadecimal digits as a number (the low 32 bits of a
// longer one); false when the run is empty or holds another byte.
bool HexValue(const CChrArr& digits, uint32_t& value);
// Two hexadecimal digits at s[at] (0-based) as a byte, or -1.
int HexByte(const CChrArr& s, int at);
double TextToDouble(const CChrArr& s);                        // locale-independent

// Message helpers (through the platform's message hook); return 0.
int ShowMessage(const char* text);
int ShowMessageText(const std::string& text);
int ShowMessageChr(const CChrArr& text);

// Code pages: only the 18 Polish letters change; single-pass byte maps.
CChrArr Cp1250ToCp852(const CChrArr& s);
CChrArr Cp852ToCp1250(const CChrArr& s);
CChrArr Cp1250ToMazovia(const CChrArr& s);
CChrArr MazoviaToCp1250(const CChrArr& s);
CChrArr Cp1250ToAscii(const CChrArr& s);
// The letter codes of the DSP 800 and CR-280 registers (Ą 0xA1 .. ż 0xD7).
CChrArr Cp1250ToDsp800(const CChrArr& s);
CChrArr Dsp800ToCp1250(const CChrArr& s);
// The letter codes of the Optimus registers (Ą 0xC8 .. ż 0x96).
CChrArr Cp1250ToOptimus(const CChrArr& s);
CChrArr OptimusToCp1250(const CChrArr& s);
// The Medesa scales' letters (Ż and the digit 7 share one byte: 7 reads back as Ż).
CChrArr Cp1250ToMedesa(const CChrArr& s);
CChrArr MedesaToCp1250(const CChrArr& s);
