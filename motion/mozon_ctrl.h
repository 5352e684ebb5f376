#pragma once
// The motion-zone control: a shell around its panel. The panel window covers the control at the
// control's origin in its own size, whatever size the host gives the control.

#include "motion/zone_panel.h"
#include "platform/dispatch.h"

#include <QWidget>

#include <optional>
#include <string>
#include <vector>

class CMozonCtrl : public QWidget
{
    Q_OBJECT
public:
    enum : int {
        kSetSource = 1,
        kStopPlay = 2,
        kAboutBox = -552,
    };
    static const std::vector<DispatchEntry>& DispatchTable();
    static std::optional<int> DispatchIdOf(const std::string& name);
    // The only persistent property: the control's version, 1.0.
    static constexpr uint32_t kVersion = 0x10000;

    explicit CMozonCtrl(QWidget* parent = nullptr, const ZoneTimings& timings = {},
                        ZoneHooks hooks = {});
    ~CMozonCtrl() override;

    // The control's window creation: makes the panel window. Done when the control is first
    // shown, or earlier by the host.
    void CreateWindow();
    bool WindowMade() const { return m_windowMade; }

    // A call that arrives while the control waits on the camera runs, in order, once that work
    // is over; SetSource then answers true at once.
    std::optional<DispatchResult> Invoke(int id, const std::vector<DispatchArg>& args);
    std::optional<DispatchResult> Invoke(const std::string& name,
                                         const std::vector<DispatchArg>& args);

    // nOcxType is a 16-bit integer on the page's side.
    bool SetSource(const std::string& url, const std::string& frameType, int16_t ocxType);
    void StopPlay();
    void AboutBox();

    // The video and zone counters as one JSON object, for hosts that report them.
    std::string Statistics();

    CZonePanel& Panel() { return *m_panel; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::optional<DispatchResult> Dispatch(int id, const std::vector<DispatchArg>& args);

    CZonePanel* m_panel; // child widget, deleted with the control (or after its work, if busy)
    bool m_windowMade = false;
};
