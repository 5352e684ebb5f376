#include "stream/frame_chain.h"

#include <new>

uint8_t* AllocFrameData(size_t size) noexcept
{
    return new (std::nothrow) uint8_t[size ? size : 1];
}

void FreeFrameData(uint8_t* data) noexcept
{
    delete[] data;
}

void FreeFrame(FrameChainNode* node) noexcept
{
    if (!node)
        return;
    FreeFrameData(node->data);
    delete node;
}

CFrameChain::~CFrameChain()
{
    Clear();
}

FrameChainNode* CFrameChain::Add(uint8_t* data, int32_t size, uint32_t timestamp)
{
    auto* node = new FrameChainNode{data, size, timestamp};
    try {
        std::lock_guard lock(m_lock);
        m_list.push_back(node);
    } catch (...) {
        delete node;
        throw;
    }
    return node;
}

FrameChainNode* CFrameChain::Remove(uint8_t** data, int32_t* size, uint32_t* timestamp)
{
    FrameChainNode* node;
    {
        std::lock_guard lock(m_lock);
        if (m_list.empty())
            return nullptr;
        node = m_list.front();
        m_list.pop_front();
    }
    *data = node->data;
    *size = node->size;
    *timestamp = node->timestamp;
    return node;
}

int CFrameChain::GetCount()
{
    std::lock_guard lock(m_lock);
    return static_cast<int>(m_list.size());
}

void CFrameChain::Clear()
{
    std::deque<FrameChainNode*> doomed;
    {
        std::lock_guard lock(m_lock);
        doomed.swap(m_list);
    }
    // Freed outside the lock: a consumer polling the chain never waits on the allocator.
    for (FrameChainNode* node : doomed)
        FreeFrame(node);
}

void DrainFrameChain(CFrameChain& chain)
{
    for (int n = chain.GetCount(); n > 0; --n) {
        uint8_t* data;
        int32_t size;
        uint32_t timestamp;
        FrameChainNode* node = chain.Remove(&data, &size, &timestamp);
        if (!node)
            break;
        FreeFrame(node);
    }
    chain.Clear();
}

void CPanelClock::Set(uint32_t timestamp)
{
    std::lock_guard lock(m_lock);
    m_timestamp = timestamp;
}

uint32_t CPanelClock::Get() const
{
    std::lock_guard lock(m_lock);
    return m_timestamp;
}

uint8_t* AllocFrameDataOrThrow(size_t size)
{
    uint8_t* block = AllocFrameData(size);
    if (!block)
        throw std::bad_alloc();
    return block;
}

void CFrameChain::AddOrFree(uint8_t* data, int32_t size, uint32_t timestamp)
{
    try {
        Add(data, size, timestamp);
    } catch (...) {
        FreeFrameData(data);
        throw;
    }
}
