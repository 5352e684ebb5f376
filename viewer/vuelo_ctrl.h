#pragma once
// The viewer control: a thin shell that hosts its panel, keeps the panel at its size and forwards
// the page's scripting calls to it through a dispatch table.

#include "platform/dispatch.h"
#include "viewer/viewer_panel.h"

#include <QWidget>

#include <optional>
#include <string>
#include <vector>

class CVueloCtrl : public QWidget
{
    Q_OBJECT
public:
    // Dispatch ids of the scripting interface.
    enum : int {
        kSetSource = 1,
        kStartPlay = 2,
        kStopPlay = 3,
        kSetZoomPercent = 4,
        kSetPlayAudio = 5,
        kStopPlayAudio = 6,
        kOpenSettingPage = 7,
        kSetSize = 8,
        kGetSize = 9,
        kAboutBox = -552,
    };
    static const std::vector<DispatchEntry>& DispatchTable();
    // The id of a method name (case-insensitive, as scripting hosts look names up).
    static std::optional<int> DispatchIdOf(const std::string& name);

    explicit CVueloCtrl(QWidget* parent = nullptr, const ViewerTimings& timings = {},
                        ViewerHooks hooks = {});
    ~CVueloCtrl() override;

    // Calls a method by id with string and integer arguments. Strings given where a number is
    // expected are read as numbers and the other way round; missing arguments are empty or 0.
    // Nothing for an unknown id. A call that arrives while the control waits on the camera runs,
    // in order, once that work is over; it answers at once what the method always answers
    // (TRUE for SetSource and SetSize; GetSize, which only reads, runs at once).
    std::optional<DispatchResult> Invoke(int id, const std::vector<DispatchArg>& args);
    std::optional<DispatchResult> Invoke(const std::string& name, const std::vector<DispatchArg>& args);

    // The methods themselves.
    bool SetSource(const std::string& url, const std::string& frameType, const std::string& panTilt,
                   const std::string& frameRate, long color, long language);
    void StartPlay(long record, const std::string& recordFileName);
    void StopPlay();
    void SetZoomPercent(long percent);
    void SetPlayAudio();
    void StopPlayAudio();
    void OpenSettingPage(const std::string& argument);
    bool SetSize(long size);
    long GetSize() const;
    void AboutBox();

    // The panel's counters as one JSON object, for hosts that report them.
    std::string Statistics();

    CViewerPanel& Panel() { return *m_panel; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    std::optional<DispatchResult> Dispatch(int id, const std::vector<DispatchArg>& args);

    CViewerPanel* m_panel; // child widget, deleted with the control (or after its work, if busy)
};
