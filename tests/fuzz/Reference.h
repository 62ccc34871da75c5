// Independent models of the command-line rules, written differently from the
// tool on purpose, so that the fuzz targets can compare the two.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace ref
{

// What the start-up code leaves of a command line once the program's own name
// and the blanks and tabs around it are gone.
inline std::string Tail(const std::string &line)
{
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    size_t i = 0;
    while (i < line.size() && blank(line[i]))
        i++;
    if (i < line.size() && line[i] == '"') {
        size_t close = line.find('"', i + 1);
        i = close == std::string::npos ? line.size() : close + 1;
    } else {
        while (i < line.size() && !blank(line[i]))
            i++;
    }
    while (i < line.size() && blank(line[i]))
        i++;
    return line.substr(i);
}

// Tokens of a tail: tabs always separate; blanks separate outside quotes; a
// quote toggles and separates too.
inline std::vector<std::string> Tokens(const std::string &tail)
{
    std::vector<std::string> tokens;
    std::string current;
    bool quoted = false;
    auto cut = [&] {
        if (!current.empty())
            tokens.push_back(current);
        current.clear();
    };
    for (char c : tail) {
        if (c == '"') {
            quoted = !quoted;
            cut();
        } else if (c == '\t' || (c == ' ' && !quoted)) {
            cut();
        } else {
            current += c;
        }
    }
    cut();
    return tokens;
}

// A number read in 64 bits as strtoull does with base 0, then brought into
// 32: too large gives all ones, a minus negates modulo 2^32.
inline uint32_t Number(const std::string &token)
{
    const char *p = token.c_str();
    while (*p == ' ' || (*p >= 0x09 && *p <= 0x0D))
        p++;
    bool minus = *p == '-';
    if (*p == '-' || *p == '+')
        p++;
    unsigned base = 10;
    auto digit = [](char c) -> unsigned {
        if (c >= '0' && c <= '9')
            return unsigned(c - '0');
        if (c >= 'a' && c <= 'f')
            return unsigned(c - 'a' + 10);
        if (c >= 'A' && c <= 'F')
            return unsigned(c - 'A' + 10);
        return 100; // letters past f never count as a digit of any base used here
    };
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && digit(p[2]) < 16) {
        base = 16;
        p += 2;
    } else if (p[0] == '0') {
        base = 8;
    }
    uint64_t magnitude = 0;
    bool huge = false;
    for (; digit(*p) < base; p++) {
        magnitude = magnitude * base + digit(*p);
        if (magnitude > 0xFFFFFFFFull)
            huge = true, magnitude = 0x100000000ull; // stays above the limit without wrapping
    }
    if (huge)
        return 0xFFFFFFFFu;
    return minus ? uint32_t(0 - magnitude) : uint32_t(magnitude);
}

// The same rule on the C library's own strtoull, to keep Number honest. The
// C library may know prefixes (0b) that the tool's reading predates, so only
// inputs without a b after the leading 0 are comparable.
inline bool LibcNumber(const std::string &token, uint32_t *value)
{
    const char *p = token.c_str();
    while (*p == ' ' || (*p >= 0x09 && *p <= 0x0D))
        p++;
    bool minus = *p == '-';
    if (*p == '-' || *p == '+')
        p++;
    if (p[0] == '0' && (p[1] == 'b' || p[1] == 'B'))
        return false;
    errno = 0;
    unsigned long long v = std::strtoull(token.c_str(), nullptr, 0);
    unsigned long long magnitude = minus ? 0 - v : v;
    if (errno == ERANGE || magnitude > 0xFFFFFFFFull)
        *value = 0xFFFFFFFFu;
    else
        *value = minus ? uint32_t(0 - magnitude) : uint32_t(magnitude);
    return true;
}

inline uint32_t Class(const std::string &token)
{
    static const struct {
        const char *word;
        uint32_t value;
    } keywords[] = {{"IDLE", 0x40}, {"BELOW_NORMAL", 0x4000}, {"NORMAL", 0x20},   {"ABOVE_NORMAL", 0x8000},
                    {"HIGH", 0x80}, {"HIGHEST", 0x80},        {"REALTIME", 0x100}};
    for (const auto &k : keywords)
        if (token == k.word)
            return k.value;
    return Number(token);
}

// ASCII capitals to small letters; every other byte as it is.
inline std::string Fold(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

[[noreturn]] inline void Fail(const char *what, const std::string &input)
{
    std::fprintf(stderr, "INVARIANT VIOLATED: %s\ninput: [", what);
    for (unsigned char c : input)
        std::fprintf(stderr, (c >= 0x20 && c < 0x7F && c != '\\') ? "%c" : "\\x%02x", c);
    std::fprintf(stderr, "]\n");
    std::abort();
}

} // namespace ref
