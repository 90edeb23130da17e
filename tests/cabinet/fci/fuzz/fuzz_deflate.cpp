// libFuzzer target: deflate round trip with history. The first two bytes
// pick the level and how much history comes before the piece (a random
// window from a generator seeded by the third and fourth bytes, up to
// 32 KB, followed by the first bytes of the piece itself so that matches
// into the history are common); the rest, up to 32 KB, is the piece. zlib
// inflates the stream with the history as its preset dictionary, and the
// bytes must come back equal, from a stream no larger than the stored one.
// Then the same encoder takes a second piece (the first one rotated) with
// the first piece as its history, as MSZIP's next block: it must write the
// bytes a fresh encoder writes, and they must inflate back as well.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "cabinet/fci/deflateencoder.h"

using ravelin::fci::DeflateEncoder;

namespace {

void* allocate(uint32_t cb)
{
    return std::malloc(cb);
}
void release(void* p)
{
    std::free(p);
}

// Aborts unless `stream` inflates to in[0..inLen) with `history` as preset
// dictionary.
void checkInflate(const std::vector<uint8_t>& stream, uint32_t n, const uint8_t* history, uint32_t historyLen,
                  const uint8_t* in, uint32_t inLen)
{
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
        std::abort();
    if (historyLen && inflateSetDictionary(&z, history, historyLen) != Z_OK)
        std::abort();
    std::vector<uint8_t> out(inLen + 16);
    z.next_in = const_cast<uint8_t*>(stream.data());
    z.avail_in = n;
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    const int rc = inflate(&z, Z_FINISH);
    const uLong produced = z.total_out;
    const uInt left = z.avail_in;
    inflateEnd(&z);
    if (rc != Z_STREAM_END || left != 0 || produced != inLen ||
        (inLen && std::memcmp(out.data(), in, inLen) != 0))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    const int level =
        DeflateEncoder::kMinLevel + data[0] % (DeflateEncoder::kMaxLevel - DeflateEncoder::kMinLevel + 1);
    const uint32_t historyLen = data[1] == 255 ? DeflateEncoder::kMaxHistory : uint32_t(data[1]) * 129;
    std::mt19937 rng(data[2] | (data[3] << 8));
    const uint8_t* in = data + 4;
    const uint32_t inLen = uint32_t(std::min<size_t>(size - 4, DeflateEncoder::kMaxInput));

    std::vector<uint8_t> history(historyLen);
    const uint32_t copied = std::min(inLen, historyLen / 2);
    for (uint32_t i = 0; i < historyLen - copied; ++i)
        history[i] = uint8_t(rng() % (data[2] % 8 == 0 ? 4 : 256));
    if (copied)
        std::memcpy(history.data() + historyLen - copied, in, copied);

    static DeflateEncoder* encoders[DeflateEncoder::kMaxLevel + 1] = {};
    if (!encoders[level]) {
        encoders[level] = new DeflateEncoder;
        if (!encoders[level]->init(allocate, release, level))
            std::abort();
    }
    std::vector<uint8_t> stream(DeflateEncoder::bound(inLen));
    const uint32_t n = encoders[level]->encode(history.data(), historyLen, in, inLen, stream.data());
    if (n > DeflateEncoder::bound(inLen))
        std::abort();

    checkInflate(stream, n, history.data(), historyLen, in, inLen);

    if (inLen == 0)
        return 0;
    std::vector<uint8_t> next(inLen);
    const uint32_t turn = inLen / 2;
    std::memcpy(next.data(), in + turn, inLen - turn);
    std::memcpy(next.data() + (inLen - turn), in, turn);
    std::vector<uint8_t> followed(DeflateEncoder::bound(inLen)), fresh(DeflateEncoder::bound(inLen));
    const uint32_t m = encoders[level]->encode(in, inLen, next.data(), inLen, followed.data());
    // The other encoder's last piece was not `in`: it builds its tables anew.
    static DeflateEncoder* others[DeflateEncoder::kMaxLevel + 1] = {};
    if (!others[level]) {
        others[level] = new DeflateEncoder;
        if (!others[level]->init(allocate, release, level))
            std::abort();
    }
    if (others[level]->encode(in, inLen, next.data(), inLen, fresh.data()) != m ||
        std::memcmp(followed.data(), fresh.data(), m) != 0)
        std::abort();
    checkInflate(followed, m, in, inLen, next.data(), inLen);
    return 0;
}
