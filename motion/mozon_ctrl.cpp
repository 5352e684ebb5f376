#include "motion/mozon_ctrl.h"

#include <QMessageBox>

const std::vector<DispatchEntry>& CMozonCtrl::DispatchTable()
{
    static const std::vector<DispatchEntry> table = {
        {kSetSource, "SetSource", 3},
        {kStopPlay, "StopPlay", 0},
        {kAboutBox, "AboutBox", 0},
    };
    return table;
}

std::optional<int> CMozonCtrl::DispatchIdOf(const std::string& name)
{
    return platform::DispatchIdOf(DispatchTable(), name);
}

CMozonCtrl::CMozonCtrl(QWidget* parent, const ZoneTimings& timings, ZoneHooks hooks)
    : QWidget(parent), m_panel(new CZonePanel(this, timings, std::move(hooks)))
{
    resize(CZonePanel::kWidth, CZonePanel::kHeight);
}

CMozonCtrl::~CMozonCtrl() = default;

void CMozonCtrl::CreateWindow()
{
    if (m_windowMade)
        return;
    m_windowMade = true;
    m_panel->Create();
}

void CMozonCtrl::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Only the first showing makes the window; after StopPlay it stays down.
    CreateWindow();
}

std::optional<DispatchResult> CMozonCtrl::Invoke(const std::string& name,
                                                 const std::vector<DispatchArg>& args)
{
    auto id = DispatchIdOf(name);
    if (!id)
        return std::nullopt;
    return Invoke(*id, args);
}

std::optional<DispatchResult> CMozonCtrl::Invoke(int id, const std::vector<DispatchArg>& a)
{
    switch (id) {
    case kSetSource:
        return SetSource(platform::TextArg(a, 0), platform::TextArg(a, 1),
                         static_cast<int16_t>(platform::NumberArg(a, 2)));
    case kStopPlay:
        StopPlay();
        return DispatchResult{};
    case kAboutBox:
        AboutBox();
        return DispatchResult{};
    default:
        return std::nullopt;
    }
}

bool CMozonCtrl::SetSource(const std::string& url, const std::string& frameType, int16_t ocxType)
{
    return m_panel->SetSource(url, frameType, ocxType);
}

void CMozonCtrl::StopPlay()
{
    m_panel->StopPlay();
}

void CMozonCtrl::AboutBox()
{
    QMessageBox::about(this, QStringLiteral("À propos de Mozon"),
                       QStringLiteral("Mozon 1.0 — zones de détection de mouvement"));
}
