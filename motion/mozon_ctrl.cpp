#include "motion/mozon_ctrl.h"

#include "module/about_box.h"
#include "module/identifiers.h"
#include "motion/zone_module.h"
#include "motion/zone_strings.h"

#include <QLabel>
#include <QPointer>

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

CMozonCtrl::~CMozonCtrl()
{
    // A panel in the middle of a request outlives the control until the request has unwound.
    m_panel->Live().Orphan();
}

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
    if (id != kSetSource && id != kStopPlay && id != kAboutBox)
        return std::nullopt;
    CLiveWait& live = m_panel->Live();
    if (live.Waiting()) {
        live.RunInTurn([this, id, a] { Dispatch(id, a); });
        if (id == kSetSource)
            return true;
        return DispatchResult{};
    }
    const QPointer<CMozonCtrl> self(this);
    live.CatchUp();
    if (!self)
        return DispatchResult{};
    return Dispatch(id, a);
}

std::optional<DispatchResult> CMozonCtrl::Dispatch(int id, const std::vector<DispatchArg>& a)
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
    component::ShowAboutBox(component::kMozonIds, this);
}

std::string CMozonCtrl::Statistics()
{
    CZoneModule& module = CZoneModule::Get();
    const auto levels = module.Player().ZoneLevels();
    std::string zones;
    for (size_t i = 0; i < 4; ++i) {
        const ZoneSettings& z = m_panel->Config().zones[i];
        zones += std::string(i ? "," : "") + "{\"enable\":" + std::to_string(z.enable) +
                 ",\"rect\":[" + std::to_string(z.x1) + "," + std::to_string(z.y1) + "," +
                 std::to_string(z.x2) + "," + std::to_string(z.y2) +
                 "],\"level\":" + std::to_string(levels[i]) + "}";
    }
    // The message texts are ours and carry no quotes or backslashes.
    const QLabel* message = m_panel->MessageLine();
    const std::string text =
        message && message->isVisible() ? message->text().toStdString() : std::string();
    int messageId = 0;
    for (int id : {kStrZoneConnectFailed, kStrZoneBusy, kStrZoneProtected})
        if (!text.empty() && message->text() == LoadZoneString(id))
            messageId = id;
    const bool live = module.live && module.liveOwner == m_panel;
    return "{\"decoded\":" + std::to_string(module.Painter().Decoded()) +
           ",\"repaints\":" + std::to_string(module.Painter().Repaints()) +
           ",\"decodeFailures\":" + std::to_string(module.Painter().DecodeFailures()) +
           ",\"message\":\"" + text + "\",\"messageId\":" + std::to_string(messageId) +
           ",\"live\":" + (live ? "true" : "false") +
           ",\"streaming\":" + (module.Player().Finished() ? "false" : "true") +
           ",\"resultCount\":" + std::to_string(module.Recorded().ResultCount()) +
           ",\"result\":" + std::to_string(module.Recorded().LastResult()) +
           ",\"zones\":[" + zones + "]}";
}
