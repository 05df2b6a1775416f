// Fuzz target for the text codecs: arbitrary bytes into crypt64 decode, base64 decode and
// hex_to_uint, and through crypt64 and base64 encode and back. Every buffer is a heap block
// of exactly the size the routine's contract allows, so any overrun is caught.
#include "common/codec.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

std::unique_ptr<uint8_t[]> exact_copy(const uint8_t* data, size_t size) {
    std::unique_ptr<uint8_t[]> p(new uint8_t[size]);
    if (size) std::memcpy(p.get(), data, size);
    return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = false;
    if (!ready) {
        codec_table_init();
        ready = true;
    }
    if (size > 65536) return 0;
    const int32_t len = int32_t(size);
    auto input = exact_copy(data, size);
    const char* text = reinterpret_cast<const char*>(input.get());

    // crypt64 decode: 3 bytes per 4 characters; a bad length writes nothing.
    {
        const size_t room = size % 4 == 0 ? size / 4 * 3 : 0;
        std::unique_ptr<uint8_t[]> out(new uint8_t[room]);
        const int32_t n = CodecApi.codec_crypt64_decode(out.get(), text, len);
        if (n != 0 && size_t(n) != room) abort();
    }

    // base64 decode of the rest, with a capacity from the first byte (at most the input size).
    if (size > 0) {
        const int32_t capacity = int32_t(input[0] % (size + 1));
        std::unique_ptr<uint8_t[]> out(new uint8_t[size_t(capacity)]);
        int32_t out_len = capacity;
        CodecApi.codec_base64_decode(input.get() + 1, len - 1, out.get(), &out_len);
        if (out_len < 0 || out_len > capacity) abort();
    }

    // hex_to_uint reads at most n characters of a text without terminator.
    {
        const uint8_t n = uint8_t(size < 255 ? size : 255);
        const uint32_t v = CodecApi.codec_hex_to_uint(text, n);
        if (n < 8 && (v >> (4 * n)) != 0) abort();
    }

    // crypt64 encode into exactly 4*ceil(n/3) characters, then decode back.
    if (size > 0) {
        const size_t text_len = 4 * ((size + 2) / 3);
        std::unique_ptr<char[]> enc(new char[text_len]);
        if (CodecApi.codec_crypt64_encode(enc.get(), input.get(), len) != int32_t(text_len)) abort();
        std::unique_ptr<uint8_t[]> back(new uint8_t[text_len / 4 * 3]);
        if (CodecApi.codec_crypt64_decode(back.get(), enc.get(), int32_t(text_len)) !=
            int32_t(text_len / 4 * 3))
            abort();
        if (std::memcmp(back.get(), input.get(), size) != 0) abort();
        for (size_t i = size; i < text_len / 4 * 3; ++i)
            if (back[i] != 0) abort();
    }

    // base64 encode into exactly 4*ceil(n/3) characters, then decode back into n bytes.
    if (size > 0) {
        const size_t text_len = 4 * ((size + 2) / 3);
        std::unique_ptr<char[]> enc(new char[text_len]);
        if (CodecApi.codec_base64_encode(enc.get(), input.get(), uint32_t(size)) != text_len) abort();
        std::unique_ptr<uint8_t[]> back(new uint8_t[size]);
        int32_t out_len = len;
        CodecApi.codec_base64_decode(reinterpret_cast<const uint8_t*>(enc.get()), int32_t(text_len),
                                     back.get(), &out_len);
        if (out_len != len || std::memcmp(back.get(), input.get(), size) != 0) abort();
    }

    // The checksums read exactly the input.
    CodecApi.codec_crc16_modbus(input.get(), len);
    CodecApi.codec_crc16_arc(input.get(), len);
    CodecApi.codec_checksum8(input.get(), len);
    return 0;
}
