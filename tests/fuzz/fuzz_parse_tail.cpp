// ParseCommandTail alone, against the reference tokenizer and number reader.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "App.h"
#include "Reference.h"
#include "RunState.h"

namespace
{

// A quote never survives into a token, so it marks bytes the parser left alone.
const char kFill = '"';
const DWORD kNoClass = 0;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The tail is a C string, and the run flow never hands over an empty one.
    std::string tail(reinterpret_cast<const char *>(data), size);
    tail.resize(std::strlen(tail.c_str()));
    if (tail.empty())
        return 0;

    std::memset(&RunState, 0, sizeof(RunState));
    // Exactly the run flow's size, so ASan reports any write past it.
    char *module = static_cast<char *>(std::malloc(MODULE_NAME_SIZE));
    std::memset(module, kFill, MODULE_NAME_SIZE);
    RunState.lpModuleName = module;
    RunState.dwPriorityClass = kNoClass;

    std::string copy = tail;
    BOOL ok = ParseCommandTail(copy.c_str());

    if (copy != tail)
        ref::Fail("the tail was changed", tail);
    if (RunState.lpModuleName != module)
        ref::Fail("the module-name buffer was replaced", tail);
    // Unwritten, the buffer holds no terminator at all.
    size_t cchModule = strnlen(module, MODULE_NAME_SIZE);
    bool written = cchModule < MODULE_NAME_SIZE;
    std::string name(module, cchModule);

    std::vector<std::string> tokens = ref::Tokens(tail);
    if (ok && tokens.size() != 2)
        ref::Fail("success without exactly two tokens", tail);

    if (tokens.empty()) {
        if (written || RunState.dwPriorityClass != kNoClass)
            ref::Fail("no token, yet the name or class was written", tail);
    } else if (tokens[0].size() < MODULE_NAME_SIZE) {
        if (!ok && tokens.size() == 2)
            ref::Fail("two tokens, yet no success", tail);
        if (!written || name != (tokens[0] == "NULL" ? "" : tokens[0]))
            ref::Fail("module name differs from token 0", tail);
        DWORD expectClass = tokens.size() >= 2 ? ref::Class(tokens[1]) : kNoClass;
        uint32_t libc = 0;
        if (tokens.size() >= 2 && ref::Class(tokens[1]) == ref::Number(tokens[1]) &&
            ref::LibcNumber(tokens[1], &libc) && libc != expectClass)
            ref::Fail("the reference number reader disagrees with strtoull", tail);
        if (RunState.dwPriorityClass != expectClass) {
            std::fprintf(stderr, "class 0x%08x, reference 0x%08x\n", (unsigned)RunState.dwPriorityClass,
                         (unsigned)expectClass);
            ref::Fail("class differs from the reference", tail);
        }
    } else if (module[0] != kFill && !written) {
        // An overlong token 0 is the tool's to handle as it likes, but the
        // buffer may hold at most 259 characters and the terminator.
        ref::Fail("module name not terminated within the buffer", tail);
    }

    std::free(module);
    RunState.lpModuleName = nullptr;
    return 0;
}
