#pragma once
// The state of the window's controls, copied from the layout table when the
// window loads: current colours, positions, sizes, captions, visibility and
// the list's lines. It carries out every FormView operation, so the update
// flow runs on it natively; the Win32 window renders from it.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/seams.h"
#include "ui/layout.h"

namespace tessaloom::ui {

// The size of a line of text, in twips.
struct TextExtent {
    float width = 0;
    float height = 0;
};
// Measures a caption in a control's font. Injected: GDI on Windows, a fake in tests.
using TextMeasure = std::function<TextExtent(const ControlRow& row, std::wstring_view text)>;

struct ControlState {
    const ControlRow* row = nullptr;
    // Twips, relative to the container's interior, as single-precision values.
    float left = 0;
    float top = 0;
    float width = 0;
    float height = 0;
    std::wstring caption;
    std::uint32_t foreColour = 0;
    std::uint32_t backColour = 0;
    std::uint32_t borderColour = 0;
    bool visible = true;
    std::vector<std::wstring> lines;  // the list box's lines
};

class FormModel final : public FormView {
public:
    explicit FormModel(TextMeasure measure);

    // A control by name and element; throws RuntimeError 730 for an unknown
    // name, 343 for an index on a control outside any group and 340 for an
    // element that does not exist (or a missing index on a group).
    [[nodiscard]] const ControlState& At(ControlRef control) const;
    // Every control, the window first, in the table's order.
    [[nodiscard]] std::span<const ControlState> Controls() const { return controls_; }
    [[nodiscard]] bool Shown() const { return shown_; }
    [[nodiscard]] bool Unloaded() const { return unloaded_; }

    // The window exists only as data here.
    std::uintptr_t Handle() override { return 0; }
    void SetBackColor(ControlRef control, std::uint32_t colour) override;
    void SetBorderColor(ControlRef control, std::uint32_t colour) override;
    void ClearList() override;
    void AddListLine(const std::wstring& line) override;
    int ListCount() override;
    float Left(ControlRef control) override;
    float Width(ControlRef control) override;
    void SetLeft(ControlRef control, float twips) override;
    void SetWidth(ControlRef control, float twips) override;
    void SetVisible(ControlRef control, bool visible) override;
    // A label that sizes itself takes the size of its text; a right-aligned
    // one keeps its right edge, a left-aligned one its left edge.
    void SetCaption(ControlRef control, const std::wstring& caption) override;
    // Sizes every self-sizing label to its caption in the measure's font: the
    // table's sizes fit the design font, a substitute face may be wider.
    void FitAutoSizeLabels();
    void Show() override;
    void Refresh() override {}
    void Unload() override;

    // Where a control stands in Controls(); throws as At() does. The one
    // way a control is looked up.
    [[nodiscard]] std::size_t IndexOf(ControlRef control) const;

private:
    using Supports = bool (*)(ControlKind);
    ControlState& Find(ControlRef control, Supports supports);
    ControlState& List();
    void Fit(ControlState& state, std::wstring_view caption);

    TextMeasure measure_;
    std::vector<ControlState> controls_;
    bool shown_ = false;
    bool unloaded_ = false;
};

}  // namespace tessaloom::ui
