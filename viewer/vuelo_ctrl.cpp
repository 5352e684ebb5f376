#include "viewer/vuelo_ctrl.h"

#include "module/about_box.h"
#include "module/identifiers.h"

#include <QPointer>
#include <QResizeEvent>

#include <algorithm>

using platform::NumberArg;
using platform::TextArg;

const std::vector<DispatchEntry>& CVueloCtrl::DispatchTable()
{
    static const std::vector<DispatchEntry> table = {
        {kSetSource, "SetSource", 6},       {kStartPlay, "StartPlay", 2},
        {kStopPlay, "StopPlay", 0},         {kSetZoomPercent, "SetZoomPercent", 1},
        {kSetPlayAudio, "SetPlayAudio", 0}, {kStopPlayAudio, "StopPlayAudio", 0},
        {kOpenSettingPage, "OpenSettingPage", 1}, {kSetSize, "SetSize", 1},
        {kGetSize, "GetSize", 0},           {kAboutBox, "AboutBox", 0},
    };
    return table;
}

std::optional<int> CVueloCtrl::DispatchIdOf(const std::string& name)
{
    return platform::DispatchIdOf(DispatchTable(), name);
}

CVueloCtrl::CVueloCtrl(QWidget* parent, const ViewerTimings& timings, ViewerHooks hooks)
    : QWidget(parent), m_panel(new CViewerPanel(this, timings, std::move(hooks)))
{
    resize(CViewerPanel::kWidth, CViewerPanel::kHeight);
}

CVueloCtrl::~CVueloCtrl()
{
    // A panel in the middle of a request outlives the control until the request has unwound.
    m_panel->Live().Orphan();
}

void CVueloCtrl::resizeEvent(QResizeEvent* event)
{
    // The panel fills the control; its own layout is in fixed pixels.
    m_panel->setGeometry(0, 0, event->size().width(), event->size().height());
    QWidget::resizeEvent(event);
}

std::optional<DispatchResult> CVueloCtrl::Invoke(const std::string& name,
                                                 const std::vector<DispatchArg>& args)
{
    auto id = DispatchIdOf(name);
    if (!id)
        return std::nullopt;
    return Invoke(*id, args);
}

std::optional<DispatchResult> CVueloCtrl::Invoke(int id, const std::vector<DispatchArg>& a)
{
    const auto& table = DispatchTable();
    if (std::none_of(table.begin(), table.end(),
                     [id](const DispatchEntry& e) { return e.id == id; }))
        return std::nullopt;
    if (id != kGetSize) {
        CLiveWait& live = m_panel->Live();
        if (live.Waiting()) {
            live.RunInTurn([this, id, a] { Dispatch(id, a); });
            if (id == kSetSource || id == kSetSize)
                return true;
            return DispatchResult{};
        }
        const QPointer<CVueloCtrl> self(this);
        live.CatchUp();
        if (!self)
            return DispatchResult{};
    }
    return Dispatch(id, a);
}

std::optional<DispatchResult> CVueloCtrl::Dispatch(int id, const std::vector<DispatchArg>& a)
{
    switch (id) {
    case kSetSource:
        return SetSource(TextArg(a, 0), TextArg(a, 1), TextArg(a, 2), TextArg(a, 3),
                         NumberArg(a, 4), NumberArg(a, 5));
    case kStartPlay:
        StartPlay(NumberArg(a, 0), TextArg(a, 1));
        return DispatchResult{};
    case kStopPlay:
        StopPlay();
        return DispatchResult{};
    case kSetZoomPercent:
        SetZoomPercent(NumberArg(a, 0));
        return DispatchResult{};
    case kSetPlayAudio:
        SetPlayAudio();
        return DispatchResult{};
    case kStopPlayAudio:
        StopPlayAudio();
        return DispatchResult{};
    case kOpenSettingPage:
        OpenSettingPage(TextArg(a, 0));
        return DispatchResult{};
    case kSetSize:
        return SetSize(NumberArg(a, 0));
    case kGetSize:
        return GetSize();
    case kAboutBox:
        AboutBox();
        return DispatchResult{};
    default:
        return std::nullopt;
    }
}

bool CVueloCtrl::SetSource(const std::string& url, const std::string& frameType,
                           const std::string& panTilt, const std::string& frameRate, long, long)
{
    m_panel->SetSource(url, frameType, panTilt, frameRate);
    return true;
}

void CVueloCtrl::StartPlay(long record, const std::string& recordFileName)
{
    m_panel->StartPlay(int(record), recordFileName);
}

void CVueloCtrl::StopPlay()
{
    m_panel->StopPlay();
}

void CVueloCtrl::SetZoomPercent(long percent)
{
    m_panel->SetZoomPercent(int(percent));
}

void CVueloCtrl::SetPlayAudio()
{
    m_panel->SetPlayAudio();
}

void CVueloCtrl::StopPlayAudio()
{
    m_panel->StopPlayAudio();
}

void CVueloCtrl::OpenSettingPage(const std::string& argument)
{
    m_panel->OpenSettingPage(argument);
}

bool CVueloCtrl::SetSize(long size)
{
    return m_panel->SetSize(int(size));
}

long CVueloCtrl::GetSize() const
{
    return m_panel->GetSize();
}

void CVueloCtrl::AboutBox()
{
    component::ShowAboutBox(component::kVueloIds, this);
}

namespace {

// `"name":[recent...],"nameCount":N`: a host keeps every sample by taking the new ones.
std::string Series(const char* name, const ReadoutSeries& series)
{
    std::string list;
    for (const int64_t value : series.recent)
        list += (list.empty() ? "" : ",") + std::to_string(value);
    return ",\"" + std::string(name) + "\":[" + list + "],\"" + name +
           "Count\":" + std::to_string(series.count);
}

} // namespace

std::string CVueloCtrl::Statistics()
{
    const ViewerStats s = m_panel->Stats();
    std::string results;
    for (size_t i = 0; i < s.results.size(); ++i)
        results += (i ? "," : "") + std::to_string(s.results[i]);
    // Where the picture is drawn in the control, so a host can put text over it.
    std::string picture;
    m_panel->Surface().WithFrame([&](const SurfaceFrame& f) {
        const QPoint at = m_panel->pos();
        picture = ",\"picture\":[" + std::to_string(at.x() + f.where.x) + "," +
                  std::to_string(at.y() + f.where.y) + "," + std::to_string(f.where.width) +
                  "," + std::to_string(f.where.height) + "]";
    });
    return "{\"painted\":" + std::to_string(s.painted) +
           ",\"decodeFailures\":" + std::to_string(s.decodeFailures) +
           ",\"restarts\":" + std::to_string(s.restarts) + ",\"results\":[" + results +
           "],\"connected\":" + (m_panel->Connected() ? "true" : "false") +
           ",\"sound\":\"" + m_panel->AudioPlayer().DeviceName() +
           "\",\"playAudio\":" + std::to_string(m_panel->AudioPlayer().PlayFlag()) +
           Series("drift", s.drift) + Series("latency", s.latency) + picture + "}";
}
