#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace vurin {

// A window's content as plain data. The logic builds it with the exact texts, enabled flags and
// actions; a renderer draws any such model with its own toolkit and calls the actions back on
// the main thread. Geometry is in points; 0 means "the renderer's natural size".
//
// Controls that the logic changes later carry a stable `id` (unique within the window); the
// renderer's WindowView addresses them by it, so a label's text or a button's title can change
// without rebuilding the window.

using ControlId = std::string;

// Colours by role, so each renderer resolves them for light and dark appearance.
enum class ColourRole {
    primary,
    secondary,
    tertiary,
    accent,
    green,
    orange,
    red,
};

enum class TextAlignment { leading, center, trailing };

struct TextStyle {
    double pointSize = 13;
    bool bold = false;
    bool monospaced = false;
    ColourRole colour = ColourRole::primary;
    TextAlignment alignment = TextAlignment::leading;
    // A fixed width; 0 keeps the text's natural width.
    int width = 0;
    // Wraps at this width; 0 keeps the text on one line (unless `wraps`).
    int wrapWidth = 0;
    // Wraps at whatever width the layout gives the text.
    bool wraps = false;
    // The user can select and copy the text.
    bool selectable = false;
    // A one-line text wider than `width` is drawn smaller until it fits (an address that must
    // stay whole and copyable).
    bool shrinkToFit = false;
    // One line cut short with an ellipsis at the width the layout gives it, the whole text in
    // its tooltip: a long text never widens the window.
    bool elides = false;
};

// Grey-level pixels, row by row: 0 black ... 255 white.
struct ImageData {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> gray;
};

struct Label {
    std::string text;
    TextStyle style;
};

struct Button {
    std::string title;
    int width = 0;
    bool enabled = true;
    // The window's default button (Return presses it).
    bool isDefault = false;
    std::function<void()> action;
};

struct Switch {
    bool on = false;
    bool enabled = true;
    // Called with the switch's new state.
    std::function<void(bool on)> action;
};

struct SegmentedControl {
    std::vector<std::string> segments;
    int selected = 0;
    int width = 0;
    bool enabled = true;
    // Called with the newly selected segment.
    std::function<void(int index)> action;
};

struct Slider {
    double minimum = 0;
    double maximum = 1;
    double value = 0;
    int width = 0;
    bool enabled = true;
    // Called once when the user lets go of the knob (not while dragging).
    std::function<void(double value)> onRelease;
};

struct PopUpButton {
    std::vector<std::string> items;
    int selected = 0;
    int width = 0;
    bool enabled = true;
    // Called with the newly chosen item.
    std::function<void(int index)> action;
};

// A text field that never echoes what is typed. Its text is read back with WindowView::text(id)
// (so a button beside it can use it) or delivered to `onSubmit` when the user presses Return.
struct SecureTextField {
    std::string placeholder;
    // A fixed width; 0 takes the row's free width.
    int width = 0;
    bool enabled = true;
    std::function<void(const std::string& text)> onSubmit;
};

// A picture drawn at `width` × `height` points without smoothing; `image` may be empty (the
// frame stays, blank).
struct ImageView {
    std::optional<ImageData> image;
    int width = 0;
    int height = 0;
    bool whiteBackground = false;
    int cornerRadius = 0;
};

// A small filled circle (the health dot).
struct StatusDot {
    ColourRole colour = ColourRole::secondary;
    int diameter = 10;
};

// Takes up the free space of a horizontal row.
struct FlexibleSpace {};

// A chart of stacked bars, one per entry, oldest on the left, drawn against a scale from 0 to
// `scaleMaximum` (labelled `scaleLabel` at its top).
struct ChartSeries {
    std::string name;
    ColourRole colour = ColourRole::accent;
};
struct BarSegment {
    double value = 0;
    // Index into the chart's series.
    int series = 0;
    // Drawn hatched (the part ran in the cloud), as the legend's `hatchedName` says.
    bool hatched = false;
};
struct StackedBarChart {
    std::vector<ChartSeries> series;
    // Bottom segment first.
    std::vector<std::vector<BarSegment>> bars;
    std::string hatchedName;
    double scaleMaximum = 1;
    std::string scaleLabel;
    // Shown instead of the bars when there are none.
    std::string emptyText;
    int width = 0;
    int height = 0;
};

struct Control {
    using Kind =
        std::variant<Label, Button, Switch, SegmentedControl, Slider, PopUpButton, SecureTextField,
                     ImageView, StatusDot, FlexibleSpace, StackedBarChart>;

    ControlId id;
    Kind kind;
};

// Shorthands for building controls.
inline Control makeLabel(std::string text, TextStyle style = {}, ControlId id = {}) {
    return Control{std::move(id), Label{std::move(text), style}};
}
inline Control makeButton(std::string title, std::function<void()> action, int width = 0,
                          ControlId id = {}) {
    return Control{std::move(id),
                   Button{.title = std::move(title), .width = width, .action = std::move(action)}};
}
inline Control makeSwitch(bool on, std::function<void(bool)> action, ControlId id = {}) {
    return Control{std::move(id), Switch{.on = on, .action = std::move(action)}};
}

// One entry of a card.
//
// A row: the title, an optional secondary sub-title below it, and controls at the trailing edge.
struct RowBlock {
    std::string title;
    std::optional<std::string> subtitle;
    std::vector<Control> trailing;
    int spacing = 8;
    bool boldTitle = false;
    // Ids for the title and sub-title labels, so they can be rewritten.
    ControlId titleId;
    ControlId subtitleId;
};

// A wrapping paragraph, secondary colour unless told otherwise. A note whose text is empty takes
// no room (setText can fill it later).
struct NoteBlock {
    std::string text;
    ColourRole colour = ColourRole::secondary;
    double pointSize = 12;
    ControlId id;
};

// Any other controls, side by side (a button row, a switch with its label, a single centred
// picture). `alignment` places the row's content when it is narrower than the card.
struct ControlRowBlock {
    std::vector<Control> controls;
    int spacing = 10;
    TextAlignment alignment = TextAlignment::leading;
};

using CardBlock = std::variant<RowBlock, NoteBlock, ControlRowBlock>;

// A group of blocks. A framed card has rounded corners, a border, a fill and an optional header
// (a symbol tinted with the accent colour and a title); consecutive rows are separated by a
// hairline. An unframed card just stacks its blocks (spacing apart, no hairlines).
struct Card {
    // A symbol name in the platform's vocabulary ("keyboard", "gearshape", "cloud",
    // "lock.shield", ...); the renderer maps it to an icon or leaves it out.
    std::string symbol;
    std::string title;
    std::vector<CardBlock> blocks;
    bool framed = true;
    int spacing = 10;
};

struct Insets {
    int top = 0;
    int left = 0;
    int bottom = 0;
    int right = 0;
};

// Cards stacked top to bottom.
struct Pane {
    std::vector<Card> cards;
    int spacing = 14;
    Insets margins{16, 16, 16, 16};
};

struct TabBar {
    std::vector<std::string> titles;
    int selected = 0;
    // Called after the renderer switched to the tab's pane, when the user picks a tab.
    std::function<void(int index)> onSelect;
};

struct WindowModel {
    std::string title;
    int width = 480;
    int height = 360;
    // Shown at the very top, above the tabs (the status and actions of a tray the desktop lacks).
    std::optional<Card> banner;
    // Shown at the top, above the panes and outside the scroll area (the settings health line).
    std::optional<Card> header;
    // With tabs: one pane per tab, the selected tab's pane shown. Without: panes[0].
    std::optional<TabBar> tabs;
    std::vector<Pane> panes;
    // Panes taller than the window scroll vertically.
    bool scrollable = true;
    // The user closed the window (its close button). The window is hidden, not destroyed: the
    // view stays valid and raise() shows it again.
    std::function<void()> onClose;
};

// Why a window comes forward. One the user asked for takes the focus: asked from inside Vurin (a
// menu item, a button), or from outside by starting Vurin again, which hands on the desktop's
// token for it (`token`: xdg-activation's on Wayland, the startup id on X11), without which a
// compositor that guards the focus only marks the window. One Vurin opens by itself (at its own
// start) shows without taking the focus from the program the user is in, so that a dictation
// never lands in Vurin's window instead.
struct WindowActivation {
    bool requested = true;
    std::string token;

    static WindowActivation unrequested() { return {.requested = false}; }
};

// A rendered window. Main thread only. Unknown ids are ignored. Every call is safe from inside
// one of the window's own actions (a pane replaced from its own button's action included).
class WindowView {
  public:
    virtual ~WindowView() = default;

    // A label's or note's text, a button's title, a text field's contents, a row's title or
    // sub-title.
    virtual void setText(const ControlId& id, const std::string& text) = 0;
    virtual void setEnabled(const ControlId& id, bool enabled) = 0;
    // A label's, note's or dot's colour.
    virtual void setColour(const ControlId& id, ColourRole colour) = 0;
    // A switch's state (does not call its action).
    virtual void setOn(const ControlId& id, bool on) = 0;
    // A segmented control's or pop-up's selection (does not call its action).
    virtual void setSelectedIndex(const ControlId& id, int index) = 0;
    // A slider's value (does not call its action).
    virtual void setValue(const ControlId& id, double value) = 0;
    virtual void setImage(const ControlId& id, std::optional<ImageData> image) = 0;
    virtual void setChart(const ControlId& id, StackedBarChart chart) = 0;
    // A text field's current contents; empty for anything else.
    virtual std::string text(const ControlId& id) const = 0;

    // Replaces pane `index` (its controls' ids are re-registered); shown at once when it is the
    // visible one.
    virtual void replacePane(int index, Pane pane) = 0;
    virtual void replaceHeader(Card header) = 0;
    // Shows `banner` above the tabs, or takes it away.
    virtual void replaceBanner(std::optional<Card> banner) = 0;
    // Shows tab `index`'s pane as if the user had picked it, without calling onSelect.
    virtual void selectTab(int index) = 0;
    virtual int selectedTab() const = 0;
    virtual void scrollToTop() = 0;

    // Shows the window if hidden, brings it to the front and gives it the focus (the user asked
    // from inside Vurin).
    virtual void raise() = 0;
    // Shows the window if hidden and brings it forward as `activation` says.
    virtual void present(const WindowActivation& activation) = 0;
    // Centres the window on the screen.
    virtual void center() = 0;
    virtual bool isVisible() const = 0;
    // Closes the window for good (onClose is not called); later calls do nothing.
    virtual void close() = 0;
};

// Opens windows from models.
class WindowRenderer {
  public:
    virtual ~WindowRenderer() = default;
    // Builds the window, centres it, shows it and brings it forward as `activation` says.
    virtual std::shared_ptr<WindowView> open(WindowModel model,
                                             const WindowActivation& activation) = 0;
    std::shared_ptr<WindowView> open(WindowModel model) { return open(std::move(model), {}); }
};

}  // namespace vurin
