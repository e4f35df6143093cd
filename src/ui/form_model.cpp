#include "ui/form_model.h"

#include <algorithm>
#include <cmath>

#include "core/error.h"
#include "core/text.h"

namespace tessaloom::ui {
namespace {

bool HasBackColour(ControlKind kind) { return kind != ControlKind::Picture; }
bool HasBorderColour(ControlKind kind) {
    return kind == ControlKind::Rectangle || kind == ControlKind::RoundedRectangle;
}
bool HasCaption(ControlKind kind) {
    return kind == ControlKind::Window || kind == ControlKind::Button || kind == ControlKind::Panel ||
           kind == ControlKind::Label;
}
// The window's own position and size are not the layout's business.
bool IsPlaced(ControlKind kind) { return kind != ControlKind::Window; }
bool IsList(ControlKind kind) { return kind == ControlKind::ListBox; }

std::wstring Quoted(std::wstring_view text) { return L"'" + std::wstring(text) + L"'"; }

void RequireFiniteSize(float twips) {
    if (!std::isfinite(twips) || twips < 0) {
        throw RuntimeError(kErrInvalidPropertyValue, L"Invalid property value");
    }
}

void RequireFinite(float twips) {
    if (!std::isfinite(twips)) {
        throw RuntimeError(kErrInvalidPropertyValue, L"Invalid property value");
    }
}

}  // namespace

FormModel::FormModel(TextMeasure measure) : measure_(std::move(measure)) {
    const std::span<const ControlRow> rows = FormLayout();
    controls_.reserve(rows.size());
    for (const ControlRow& row : rows) {
        controls_.push_back({
            .row = &row,
            .left = static_cast<float>(row.left),
            .top = static_cast<float>(row.top),
            .width = static_cast<float>(row.width),
            .height = static_cast<float>(row.height),
            .caption = std::wstring(row.caption),
            .foreColour = row.foreColour,
            .backColour = row.backColour,
            .borderColour = row.borderColour,
            .visible = row.visible,
            .lines = {},
        });
    }
}

std::size_t FormModel::IndexOf(ControlRef control) const {
    bool named = false;
    bool grouped = false;
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        const ControlRow& row = *controls_[i].row;
        if (row.name != control.name) {
            continue;
        }
        named = true;
        grouped = grouped || row.index >= 0;
        if (row.index == control.index) {
            return i;
        }
    }
    if (!named) {
        throw RuntimeError(kErrControlNotFound, L"Control " + Quoted(control.name) + L" not found");
    }
    if (!grouped) {
        throw RuntimeError(kErrObjectNotAnArray, L"Object not an array");
    }
    throw RuntimeError(kErrControlArrayElement,
                       L"Control array element " + Quoted(DecimalText(control.index)) + L" doesn't exist");
}

const ControlState& FormModel::At(ControlRef control) const { return controls_[IndexOf(control)]; }

ControlState& FormModel::Find(ControlRef control, Supports supports) {
    ControlState& state = controls_[IndexOf(control)];
    if (!supports(state.row->kind)) {
        throw RuntimeError(kErrNotSupported, L"Object doesn't support this property or method");
    }
    return state;
}

ControlState& FormModel::List() { return Find(kList, IsList); }

void FormModel::SetBackColor(ControlRef control, std::uint32_t colour) {
    Find(control, HasBackColour).backColour = colour;
}

void FormModel::SetBorderColor(ControlRef control, std::uint32_t colour) {
    Find(control, HasBorderColour).borderColour = colour;
}

void FormModel::ClearList() { List().lines.clear(); }

void FormModel::AddListLine(const std::wstring& line) { List().lines.push_back(line); }

int FormModel::ListCount() { return static_cast<int>(List().lines.size()); }

float FormModel::Left(ControlRef control) { return Find(control, IsPlaced).left; }

float FormModel::Width(ControlRef control) { return Find(control, IsPlaced).width; }

void FormModel::SetLeft(ControlRef control, float twips) {
    ControlState& state = Find(control, IsPlaced);
    RequireFinite(twips);
    state.left = twips;
}

void FormModel::SetWidth(ControlRef control, float twips) {
    ControlState& state = Find(control, IsPlaced);
    RequireFiniteSize(twips);
    state.width = twips;
}

void FormModel::SetVisible(ControlRef control, bool visible) { Find(control, IsPlaced).visible = visible; }

void FormModel::SetCaption(ControlRef control, const std::wstring& caption) {
    ControlState& state = Find(control, HasCaption);
    if (state.row->autoSize) {
        Fit(state, caption);
    }
    state.caption = caption;
}

void FormModel::FitAutoSizeLabels() {
    for (ControlState& state : controls_) {
        if (state.row->autoSize) {
            Fit(state, state.caption);
        }
    }
}

void FormModel::Fit(ControlState& state, std::wstring_view caption) {
    const TextExtent extent = measure_(*state.row, caption);
    if (state.row->align == TextAlign::Right) {
        state.left = state.left + state.width - extent.width;
    }
    state.width = extent.width;
    state.height = extent.height;
}

void FormModel::Show() {
    shown_ = true;
    unloaded_ = false;
}

void FormModel::Unload() {
    shown_ = false;
    unloaded_ = true;
}

}  // namespace tessaloom::ui
