// SPDX-License-Identifier: Apache-2.0
// json_decode_fuzz.cpp: json_decodeFromMessage on any message and key path.
// The outcome is checked against nlohmann's own reading of the same text, and
// the text buffer lies between guard bytes (poisoned under ASan), so a write
// or read one byte outside it is caught even without the sanitizers.
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "json_helper.h"

#if defined(__SANITIZE_ADDRESS__)
#define GUARDS_POISONED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define GUARDS_POISONED 1
#endif
#endif
#ifdef GUARDS_POISONED
#include <sanitizer/asan_interface.h>
#endif

namespace {
const size_t GUARD = 16;  // a multiple of ASan's 8-byte granule, so the text starts aligned
const unsigned char FILL = 0xA5;
const int PRESET = -777777;

// count + 1 bytes for the decode, filled with FILL, between two guards.
class guarded_text {
public:
    explicit guarded_text(int count) : size(static_cast<size_t>(count) + 1), bytes(GUARD + size + GUARD, FILL)
    {
#ifdef GUARDS_POISONED
        ASAN_POISON_MEMORY_REGION(bytes.data(), GUARD);
        ASAN_POISON_MEMORY_REGION(text() + size, GUARD);
#endif
    }
    ~guarded_text()
    {
#ifdef GUARDS_POISONED
        ASAN_UNPOISON_MEMORY_REGION(bytes.data(), bytes.size());
#endif
    }
    guarded_text(const guarded_text&) = delete;
    guarded_text& operator=(const guarded_text&) = delete;

    char* text() { return reinterpret_cast<char*>(bytes.data()) + GUARD; }
    bool guards_intact()
    {
#ifdef GUARDS_POISONED
        ASAN_UNPOISON_MEMORY_REGION(bytes.data(), bytes.size());
#endif
        for (size_t i = 0; i < GUARD; ++i)
            if (bytes[i] != FILL || bytes[GUARD + size + i] != FILL)
                return false;
        return true;
    }

    const size_t size;

private:
    std::vector<unsigned char> bytes;
};

// The value at path as nlohmann sees it: keys split at every ".", each step
// into an object; null when the text does not parse or a step is missing.
const nlohmann::json* value_at(const nlohmann::json& root, const std::string& path)
{
    const nlohmann::json* node = &root;
    size_t start = 0;
    for (;;) {
        size_t dot = path.find('.', start);
        std::string key = path.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (!node->is_object())
            return nullptr;
        auto member = node->find(key);
        if (member == node->end())
            return nullptr;
        node = &*member;
        if (dot == std::string::npos)
            return node;
        start = dot + 1;
    }
}

bool is_continuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// Bytes of s that fit in count: all of it, or the longest prefix that does
// not cut a UTF-8 sequence.
size_t expected_length(const std::string& s, int count)
{
    size_t n = static_cast<size_t>(count);
    if (s.size() <= n)
        return s.size();
    while (n > 0 && is_continuation(static_cast<unsigned char>(s[n])))
        --n;
    return n;
}

bool expected_number(const nlohmann::json* value, int& number)
{
    if (!value)
        return false;
    if (value->is_boolean()) {
        number = value->get<bool>() ? 1 : 0;
        return true;
    }
    if (value->is_number_float()) {  // toward zero, within the int range
        double n = std::trunc(value->get<double>());
        bool fits = n >= INT_MIN && n <= INT_MAX;
        if (fits)
            number = static_cast<int>(n);
        return fits;
    }
    if (!value->is_number_integer())  // texts, objects, ...
        return false;
    bool fits = value->is_number_unsigned() ? value->get<uint64_t>() <= INT_MAX
                                            : value->get<int64_t>() >= INT_MIN && value->get<int64_t>() <= INT_MAX;
    if (fits)
        number = value->get<int>();
    return fits;
}

void check_text(guarded_text& buffer, const nlohmann::json* value, int count, const std::string& path)
{
    FUZZ_CHECK(buffer.guards_intact(), "write outside the %d-byte text buffer, path \"%s\"", count + 1,
               path.c_str());
    const char* text = buffer.text();
    bool touched = false;
    for (size_t i = 0; i < buffer.size; ++i)
        touched |= static_cast<unsigned char>(text[i]) != FILL;
    if (touched)
        FUZZ_CHECK(memchr(text, 0, buffer.size), "text not NUL-terminated within %d bytes", count + 1);
    if (!value || !value->is_string()) {
        FUZZ_CHECK(!touched, "text written for a value that is no string, path \"%s\"", path.c_str());
        return;
    }
    const auto& s = value->get_ref<const std::string&>();
    size_t n = expected_length(s, count);
    FUZZ_CHECK(memcmp(text, s.data(), n) == 0 && text[n] == '\0',
               "text is not the first %zu bytes of the value, count %d", n, count);
    for (size_t i = n + 1; i < buffer.size; ++i)
        FUZZ_CHECK(static_cast<unsigned char>(text[i]) == FILL, "byte %zu after the terminator written", i);
}

// One call as a caller makes it; with_text/with_number choose the targets.
void decode_and_check(const std::string& message, const nlohmann::json* root, const std::string& path,
                      bool with_text, bool with_number, int count)
{
    const nlohmann::json* value = root ? value_at(*root, path) : nullptr;
    guarded_text buffer(count);
    int number = PRESET;
    int result = json_decodeFromMessage(message.c_str(), path.c_str(), with_text ? buffer.text() : nullptr,
                                        with_number ? &number : nullptr, count);
    check_text(buffer, with_text ? value : nullptr, count, path);
    int expected = PRESET;
    bool stored_text = with_text && value && value->is_string();
    if (with_number && !stored_text)
        expected_number(value, expected);
    FUZZ_CHECK(number == expected, "int %d, expected %d, path \"%s\"", number, expected, path.c_str());
    bool stored_number = with_number && !stored_text && expected_number(value, expected);
    FUZZ_CHECK((result == 0) == (stored_text || stored_number), "result %d, path \"%s\"", result,
               path.c_str());
}

// The calls that devsim itself makes.
void device_calls(const std::string& message, const nlohmann::json* root)
{
    decode_and_check(message, root, "valid", false, true, 0);
    decode_and_check(message, root, "sequence_id", true, false, 49);
    decode_and_check(message, root, "ref_id", true, false, 49);
    decode_and_check(message, root, "data.menu_reference.reference", false, true, 49);
}

void path_calls(const std::string& message, const nlohmann::json* root, const std::string& path)
{
    for (int count : {0, 1, 2, 3, 4, 5, 49}) {
        decode_and_check(message, root, path, true, false, count);
        decode_and_check(message, root, path, true, true, count);
    }
    decode_and_check(message, root, path, false, true, 0);
}
}  // namespace

// Input: a message that starts with "{", decoded with devsim's own paths; or
// a key path, a newline and the message, decoded with that path too.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t newline = input.find('\n');
    bool bare = input.empty() || input[0] == '{' || newline == std::string::npos;
    // Both sides see the text as the C string that the caller hands over.
    std::string message = (bare ? input : input.substr(newline + 1)).c_str();
    nlohmann::json parsed = nlohmann::json::parse(message, nullptr, false);
    const nlohmann::json* root = parsed.is_discarded() ? nullptr : &parsed;
    device_calls(message, root);
    if (!bare)
        path_calls(message, root, input.substr(0, newline).c_str());
    return 0;
}
