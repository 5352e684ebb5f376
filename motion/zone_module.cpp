#include "motion/zone_module.h"

void CRecordedPanel::Record(platform::MessageTarget* panel)
{
    std::lock_guard lock(m_lock);
    m_panel = panel;
}

void CRecordedPanel::Forget(platform::MessageTarget* panel)
{
    std::lock_guard lock(m_lock);
    if (m_panel == panel)
        m_panel = nullptr;
}

platform::MessageTarget* CRecordedPanel::Current() const
{
    std::lock_guard lock(m_lock);
    return m_panel;
}

void CRecordedPanel::Post(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (message == WM_PLAYER_RESULT) {
        m_lastResult = static_cast<int>(wParam);
        ++m_resultCount;
    }
    // Held while posting: a panel being destroyed waits in Forget until the post is queued.
    std::lock_guard lock(m_lock);
    if (m_panel)
        m_panel->Post(message, wParam, lParam);
}

CZoneModule& CZoneModule::Get()
{
    static CZoneModule module;
    return module;
}

CZoneModule::CZoneModule()
    : m_painter(m_video, m_videoCap, &m_recorded),
      m_player(kZoneAsfProfile, m_video, nullptr, m_painter, nullptr, &m_recorded, &m_videoCap)
{
}

CZoneModule::~CZoneModule()
{
    // The client's stop procedure stops the painter; the queue goes last.
    m_player.Shutdown();
    m_painter.Shutdown();
    m_video.Clear();
}
