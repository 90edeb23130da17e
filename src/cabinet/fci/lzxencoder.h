#pragma once
// LZX compression of one cabinet folder, frame by frame.
//
// The format as cabinet readers decode it (Microsoft's "LZX DELTA" and
// cabinet documents, corrected where libmspack's decoder notes that the
// first LZX document and its implementation disagree):
//
//   Folder     one LZX stream. Window, repeated offsets and tree lengths live
//              across the whole folder and start afresh with the next one
//              (cabinets never use a reset interval).
//   Frame      32,768 bytes of output (the folder's last frame may be
//              shorter): exactly one CFDATA block each. The stream's bits end
//              each frame on a 16-bit boundary, and no match crosses a frame,
//              so a CFDATA block starts where its frame starts.
//   Bits       16-bit little-endian words, each read from its most
//              significant bit down. Huffman codes are canonical (see
//              huffman.h) and sent most significant bit first.
//   Header     once, before the first block: 1 bit; if 1, the E8 translation
//              size follows as two 16-bit fields, high half first.
//   Block      3 bits type (1 verbatim, 2 aligned offset, 3 uncompressed),
//              24 bits of output size (high 16 bits, then low 8). A block may
//              span frames; ours span at most the kGroupFrames frames of
//              one call. Decoders stop at the folder's end even inside a
//              block, so a folder cut back after any frame still reads.
//   Verbatim   the main tree (256 literals + 8 per position slot) sent as two
//              runs, elements 0-255 then the rest, then the length tree (249
//              elements), each run with its own pretree; then the symbols.
//   Aligned    first 8 x 3 bits of aligned-offset tree lengths (before the
//              main tree, not after it as the first document says), then as
//              verbatim.
//   Uncompressed   after the 27 header bits, 1 to 16 zero bits to reach a
//              16-bit boundary (16 when already on one), R0, R1, R2 as 32-bit
//              little-endian numbers, the bytes, and one padding byte when
//              their count is odd.
//   Pretree    20 x 4 bits of lengths, then for each tree element a pretree
//              symbol: 0-16 gives new = (previous - symbol) mod 17, where
//              previous is the element's length in the last verbatim or
//              aligned block of the folder (0 at its start); 17 + 4 bits: 4-19
//              zeros; 18 + 5 bits: 20-51 zeros; 19 + 1 bit + symbol 0-16:
//              4-5 elements all set to (previous of the first - symbol) mod 17.
//   Trees      every tree in use is a complete code of at most 16 bits (the
//              pretree 15, the aligned tree 7); an unused length tree may be
//              all zeros.
//   Symbols    main element < 256: a literal. Else element - 256 = slot * 8 +
//              length header; length header 7 means a length-tree symbol
//              follows and length = 9 + symbol, else length = header + 2
//              (lengths 2 to 257). Slots 0-2 repeat R0, R1 or R2 (R1 and R2
//              swap with R0); from slot 3 on, the formatted offset is
//              position_base[slot] + extra bits and the distance is that
//              minus 2, which then becomes R0 (R1 and R2 shift down).
//              R0 = R1 = R2 = 1 at the start of a folder.
//   Slots      extra bits 0,0,0,0,1,1,2,2,...,16,16 for slots 0-35, 17 from
//              36 on; slots for window 2^15..2^21: 30, 32, 34, 36, 38, 42, 50
//              (the first slot whose base reaches the window size; the table
//              in the first document, 40 and 42, is wrong). In aligned blocks
//              an offset with 3 or more extra bits sends its low 3 bits as an
//              aligned-tree symbol after the others (with exactly 3 extra
//              bits, only the symbol).
//   Distances  at most window size - 3, and never before the folder's start.
//   E8         on output, in each of a folder's first 32,768 frames that is
//              longer than 10 bytes, every 0xE8 byte at frame offset below
//              frame size - 10 is followed by a 32-bit value A that is turned
//              back into a relative call offset when -pos <= A < size
//              (pos = folder offset of the 0xE8 byte; A >= 0: A - pos; else
//              A + size); the scan then skips those 4 bytes. The encoder
//              applies the inverse before compressing.
//
// The encoder: each frame's matches come from MatchFinder; a cost-driven
// parse (shortest path over the frame's positions, tracking the repeated
// offsets along the path) picks literals, repeated and explicit matches;
// it runs twice, the second time with code lengths from the first, and the
// block type is chosen per frame by exact size.
//
// Not thread-safe; one encoder serves one folder at a time. The output
// depends only on the frames given since reset().
#include <cstdint>

#include "cabinet/fci/fci.h"
#include "cabinet/fci/matchfinder.h"

namespace ravelin::fci {

namespace lzx {
inline constexpr unsigned kMinWindowBits = 15;
inline constexpr unsigned kMaxWindowBits = 21;
inline constexpr uint32_t kFrameSize = 32768;
// Bytes one frame may take at most: an uncompressed block (8 bytes of
// headers and padding, 12 of offsets, the frame, one padding byte), with room
// to spare.
inline constexpr uint32_t kMaxFrameOutput = kFrameSize + 24;
// Frames beyond this many in a folder get no E8 translation (the decoders'
// limit: the first gigabyte).
inline constexpr uint32_t kE8Frames = 32768;
// Frames compressed together by one call, and so sharing one block at
// most: measured on binaries and text, two frames per block make the
// cabinet 0.2% smaller than one (the trees go half as often); four gain no
// more, as the code then follows the data less closely.
inline constexpr uint32_t kGroupFrames = 2;
inline constexpr uint32_t kMaxMainSymbols = 256 + 8 * 50; // 50 position slots at 2^21
inline constexpr uint32_t kLengthSymbols = 249;
inline constexpr uint32_t kAlignedSymbols = 8;
} // namespace lzx

class LzxEncoder {
public:
    LzxEncoder() = default;
    ~LzxEncoder();
    LzxEncoder(const LzxEncoder&) = delete;
    LzxEncoder& operator=(const LzxEncoder&) = delete;

    // The bytes init() allocates for a window of 2^windowBits, the encoder
    // itself included (about 32 MiB at 21 bits, 12.5 MiB at 15).
    static uint64_t memoryNeeded(unsigned windowBits);
    // Allocates the encoder through the callbacks, for a window of
    // 2^windowBits bytes (lzx::kMinWindowBits to kMaxWindowBits). False when
    // out of range or out of memory. Then reset() is implied.
    bool init(unsigned windowBits, PFNFCIALLOC alloc, PFNFCIFREE release);
    unsigned windowBits() const { return m_windowBits; }

    // Starts a new folder.
    void reset();
    // Compresses the folder's next `size` bytes from `in`: 1 to kGroupFrames
    // frames, each of lzx::kFrameSize bytes except the folder's last, which
    // may be shorter. Frame i's bytes go to out[i] (room for
    // lzx::kMaxFrameOutput bytes) and their count to frameBytes[i]: its share
    // of the stream's bits, ending on a 16-bit boundary. Returns the number
    // of frames.
    uint32_t encode(const uint8_t* in, uint32_t size, uint8_t* const* out, uint32_t* frameBytes);

    // encode() in two steps, which two threads may run at once: the match
    // search of one call and the parse and output of the call before it.
    // findMatches() takes the call's bytes (as encode()), encodeFound() then
    // writes the oldest found call's frames (returns as encode()). Each step
    // runs in call order; at most kFoundCalls calls may be found and not yet
    // encoded. findMatches() must not overlap encodeFound() when
    // findMovesBytes(size) is true: the search then moves the window's bytes.
    static constexpr uint32_t kFoundCalls = 2;
    void findMatches(const uint8_t* in, uint32_t size);
    uint32_t encodeFound(uint8_t* const* out, uint32_t* frameBytes);
    bool findMovesBytes(uint32_t size) const;

private:
    struct Node;
    struct Reps;
    // The finder's answers for one call: per position its first entry in
    // `matches` (and one more entry for the end).
    struct Found {
        uint32_t* matchIndex = nullptr;
        Match* matches = nullptr;
        uint32_t size = 0;
    };
    struct Item;
    struct Section;
    struct Costs;
    struct Stats;

    void translateE8(uint8_t* data, uint32_t size, uint32_t offset) const;
    void collectMatches(uint32_t size, Found& g);
    void parse(const Found& g, uint32_t from, uint32_t to, const Costs& costs, uint32_t* r,
               uint32_t* itemCount);

    PFNFCIALLOC m_alloc = nullptr;
    PFNFCIFREE m_free = nullptr;
    unsigned m_windowBits = 0;
    uint32_t m_mainSymbols = 0; // 256 + 8 * position slots
    MatchFinder m_finder;

    // Folder state of the search step.
    uint32_t m_foundCalls = 0;  // calls found since reset()
    uint32_t m_findFrames = 0;  // frames found since reset()
    uint32_t m_findOffset = 0;  // folder offset of the next frame to search
    uint8_t* m_frame = nullptr; // the call's frames after E8 translation
    Found m_found[kFoundCalls];

    // Folder state of the encoding step.
    uint32_t m_encodedCalls = 0;
    uint32_t m_frames = 0; // frames encoded since reset()
    uint32_t m_offset = 0; // folder offset of the next frame
    uint32_t m_r[3] = {1, 1, 1};
    // Lengths of the folder's last verbatim or aligned block: what the next
    // block's trees are sent against.
    uint8_t m_prevMain[lzx::kMaxMainSymbols] = {};
    uint8_t m_prevLength[lzx::kLengthSymbols] = {};
    bool m_havePrev = false;
    // Lengths of the last frame's parse, whatever block it became: the cost
    // model the next frame's parse starts from.
    uint8_t m_modelMain[lzx::kMaxMainSymbols] = {};
    uint8_t m_modelLength[lzx::kLengthSymbols] = {};
    uint8_t m_modelAligned[lzx::kAlignedSymbols] = {};
    bool m_haveModel = false;
    bool m_modelAlignedUsed = false;

    // Work areas of the encoding step.
    Node* m_nodes = nullptr;  // one frame's shortest-path nodes
    Reps* m_reps = nullptr;   // and their repeated offsets
    Item* m_items = nullptr;  // the parse, frame after frame
    Stats* m_stats = nullptr; // symbol counts per frame
};

} // namespace ravelin::fci
