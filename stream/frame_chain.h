#pragma once
// Locked first-in first-out queue of encoded frames between a stream client (producer) and a
// painter or the audio player (consumer).
//
// Ownership: a data block belongs to the chain from Add until Remove hands it, with its node, to
// the caller, who frees both (FreeFrame). Data blocks come from AllocFrameData. Each operation
// holds the chain's lock only for its list work.

#include <cstdint>
#include <deque>
#include <mutex>

struct FrameChainNode
{
    uint8_t* data = nullptr;
    int32_t size = 0;
    uint32_t timestamp = 0;
};

// Data blocks of queued frames. Returns nullptr when the block cannot be had, so a producer can
// turn a hostile frame size into a memory failure instead of a crash.
uint8_t* AllocFrameData(size_t size) noexcept;
void FreeFrameData(uint8_t* data) noexcept;
// Frees a node returned by Remove together with its data block.
void FreeFrame(FrameChainNode* node) noexcept;

// For parsers: a block of `size` bytes, or std::bad_alloc.
uint8_t* AllocFrameDataOrThrow(size_t size);

class CFrameChain
{
public:
    CFrameChain() = default;
    // Frames still queued are freed with the chain.
    virtual ~CFrameChain();
    CFrameChain(const CFrameChain&) = delete;
    CFrameChain& operator=(const CFrameChain&) = delete;

    // Appends a frame; the chain owns `data` from here on. Throws std::bad_alloc when no node can
    // be allocated (the data block then still belongs to the caller).
    FrameChainNode* Add(uint8_t* data, int32_t size, uint32_t timestamp);
    // Add that frees the block itself when no node can be had, before passing the failure on.
    void AddOrFree(uint8_t* data, int32_t size, uint32_t timestamp);
    // Unlinks the oldest frame and copies its fields out; nullptr (out arguments untouched) when
    // the chain is empty.
    FrameChainNode* Remove(uint8_t** data, int32_t* size, uint32_t* timestamp);
    int GetCount();
    // Frees every queued frame.
    void Clear();

private:
    std::mutex m_lock;
    std::deque<FrameChainNode*> m_list; // guarded by m_lock
};

// The stop procedures' drain: remove as many frames as were queued at the start, freeing each,
// then clear whatever a late producer added.
void DrainFrameChain(CFrameChain& chain);

// Time stamp of the last audio frame played: written by the audio player, read by the painters.
class CPanelClock
{
public:
    void Set(uint32_t timestamp);
    uint32_t Get() const;

private:
    mutable std::mutex m_lock;
    uint32_t m_timestamp = 0; // guarded by m_lock
};

// The ASF client's video-queue limit is twice the video cap. The cap starts at 18 with each
// panel and is set once per connection from the first decoded picture's width.
inline constexpr int kInitialVideoCap = 18;
inline constexpr int VideoCapForPictureWidth(int width)
{
    return width <= 400 ? 36 : 12;
}
