// Rotating traffic dumps: four families of ten files each in the temporary
// directory, every file holding one frame as raw bytes. Nothing here ever
// reports a failure: a dump that cannot be written is simply skipped.
#include <atomic>
#include <cstdint>
#include <string>

#include "comm/telepathy_ecr.h"
#include "comm/temp_files.h"
#include "platform/message_hook.h"
#include "platform/private_file.h"

namespace orv::comm {

int CreateTempFile(const std::string& name, const void* content, size_t size) {
    return CreateFileReplacing(orv::platform::TempDirectory() + "/" + name, content, size);
}

int CreateFileReplacing(const std::string& path, const void* content, size_t size) {
    return orv::platform::OpenPrivateFile(path, content, size);
}

}  // namespace orv::comm

namespace {

struct DumpFamily {
    const char* prefix;
    std::atomic<uint8_t> counter{0};
};

DumpFamily g_received{"XWR_"};
DumpFamily g_sent{"XWS_"};
DumpFamily g_block{"XWT_"};
DumpFamily g_readUntil{"XWX_"};

void Dump(DumpFamily& family, const CChrArr& bytes) {
    uint8_t digit = family.counter.load(std::memory_order_relaxed);
    if (digit > 9) digit = 0;
    const std::string name = std::string(family.prefix) + static_cast<char>('0' + digit) + ".dat";
    int fd = orv::comm::CreateTempFile(name, bytes.data(), static_cast<size_t>(bytes.GetLength()));
    if (fd < 0) return;   // the counter stays
    orv::platform::CloseFile(fd);
    uint8_t expected = digit;
    family.counter.compare_exchange_strong(expected, static_cast<uint8_t>((digit + 1) % 10),
                                           std::memory_order_relaxed);
}

}  // namespace

void DumpReceived(const CChrArr& bytes) { Dump(g_received, bytes); }
void DumpSent(const CChrArr& bytes) { Dump(g_sent, bytes); }
void DumpBlock(const CChrArr& bytes) { Dump(g_block, bytes); }
void DumpReadUntil(const CChrArr& bytes) { Dump(g_readUntil, bytes); }
