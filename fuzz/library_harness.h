// What the fuzz targets of the vendor-library families share: the fuzz input
// steers the stand-in library of the tests (tests/fakes/libs/), loaded by the
// library itself through its ECR_LIB_ variable, and the job runs through the
// exports with the recording host at time scale 0. After the job the common
// promises are checked (a broken one aborts): the job ends within the wall
// bound, a failed job or item has a nonzero code and a text, error events
// carry a code and the texts handed to the host are zero-terminated. Each
// target adds what its library's answers allow (see fuzz/README.md).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "host_job.h"
#include "orvanta/ecr.h"

namespace orv::fuzz {

// Reads the fuzz input from the front; past its end every read gives zeros.
class InputReader {
public:
    InputReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool AtEnd() const { return m_pos >= m_size; }
    uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    uint16_t U16() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
    uint32_t U32() { return static_cast<uint32_t>(U16()) | static_cast<uint32_t>(U16()) << 16; }
    // A length byte and that many bytes (fewer when the input ends).
    std::string Text();

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

enum class LibraryJob : uint8_t {
    ReadVat, ReadStatus, ProgramGoods, ReadGoodsByList, ReadAllGoods, ReadSales, ClearSales, ReadDepts, ReadUnits,
    DeleteGoods, Count
};
const char* JobName(LibraryJob job);
// The job the input's next byte picks.
LibraryJob PickJob(InputReader& in);


// Once per process: the library's start-up, and the ECR_LIB_ variable
// `variable` pointing at the stand-in `path`. Returns the stand-in's handle
// (dlopen of the same file: the library shares its state).
void* LoadFake(const char* variable, const char* path);
// An export of the stand-in; aborts when it is missing.
void* FakeSymbol(void* handle, const char* name);

// Runs the job as a host job (host_job.h) and checks the common promises. False when the library refused to
// start it (with a code and a text, else a broken promise).
bool RunLibraryJob(LibraryJob job, const EcrDeviceRecord& dev);

// Aborts with the job, the type and what the host was handed.
[[noreturn]] void Broken(const char* what);

// Whether `text` (up to its terminator) is a prefix of `given` up to its
// first zero byte: a text handed on from a text the library gave, cut.
bool PrefixOf(const char* text, const std::string& given);

}  // namespace orv::fuzz
