#include "ui/layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace tessaloom::ui {
namespace {

const ControlRow& Row(std::wstring_view name, int index = -1) {
    const auto rows = FormLayout();
    const auto it = std::ranges::find_if(rows, [&](const ControlRow& r) { return r.name == name && r.index == index; });
    EXPECT_NE(it, rows.end()) << std::string(name.begin(), name.end()) << " " << index;
    return *it;
}

// Position of a row in the table: earlier rows lie in front within a container.
std::ptrdiff_t Order(std::wstring_view name, int index = -1) { return &Row(name, index) - FormLayout().data(); }

TEST(Layout, EveryControlOnceInOneOfTheTwoContainersAndOnlyTheStatedGroupElements) {
    std::set<std::pair<std::wstring_view, int>> seen;
    std::map<std::wstring_view, std::vector<int>> groups;
    for (const ControlRow& row : FormLayout()) {
        EXPECT_TRUE(seen.emplace(row.name, row.index).second)
            << "twice: " << std::string(row.name.begin(), row.name.end());
        if (row.kind == ControlKind::Window) {
            EXPECT_TRUE(row.container.empty());
        } else {
            EXPECT_TRUE(row.container == kFormName || row.container == L"Frame1_up");
        }
        if (row.index >= 0) {
            groups[row.name].push_back(row.index);
        }
    }
    EXPECT_EQ(seen.size(), 22U);  // the window and its 21 controls
    EXPECT_EQ(FormLayout().front().kind, ControlKind::Window);
    EXPECT_EQ(Row(L"Frame1_up").kind, ControlKind::Panel);
    EXPECT_EQ((std::map<std::wstring_view, std::vector<int>>{
                  {L"Shape1_up", {0, 1, 2}}, {L"npercent_txt_up", {0, 3}}, {L"ShapeprogressU", {0}}}),
              groups);
}

TEST(Layout, StackingPutsHeaderPicturesTitleCapLabelAndRowOutlineInFront) {
    EXPECT_LT(Order(L"Image1"), Order(L"Shape1_up", 2));
    EXPECT_LT(Order(L"Image3"), Order(L"Shape1_up", 2));
    EXPECT_LT(Order(L"Image2"), Order(L"Shape1"));
    EXPECT_LT(Order(L"Shape2"), Order(L"Image6"));
    EXPECT_LT(Order(L"Image6"), Order(L"Image7"));  // the web address lies behind the banner
    EXPECT_LT(Order(L"Image13"), Order(L"npercent_txt_up", 0));
    EXPECT_LT(Order(L"npercent_txt_up", 0), Order(L"ShapeprogressU", 0));
    EXPECT_LT(Order(L"Shape1_up", 1), Order(L"ShapeprogressU", 0));
    EXPECT_LT(Order(L"Image3"), Order(L"npercent_txt_up", 3));  // the heading label hides behind its picture
}

TEST(Layout, ProgressRowLinesUpTrackFillCapAndLabel) {
    const ControlRow& track = Row(L"ShapeprogressWu");
    const ControlRow& fill = Row(L"ShapeprogressU", 0);
    const ControlRow& cap = Row(L"Image13");
    const ControlRow& label = Row(L"npercent_txt_up", 0);
    for (const ControlRow* row : {&fill, &cap}) {
        EXPECT_EQ(row->left, track.left);
        EXPECT_EQ(row->top, track.top);
    }
    EXPECT_EQ(fill.width, track.width);
    EXPECT_EQ(fill.width, 127 * 15);
    EXPECT_EQ(cap.width, 4 * 15);
    EXPECT_EQ(label.left + label.width, fill.left - 120);
    EXPECT_FALSE(track.visible);
    EXPECT_FALSE(cap.visible);
    EXPECT_EQ(label.align, TextAlign::Right);
}

TEST(Layout, TabOrderOfTheFocusableControlsIsListThenUpdateThenCancel) {
    std::vector<const ControlRow*> focusable;
    for (const ControlRow& row : FormLayout()) {
        if (row.kind == ControlKind::Button || row.kind == ControlKind::ListBox) {
            focusable.push_back(&row);
        }
    }
    std::ranges::sort(focusable, {}, &ControlRow::tabIndex);
    ASSERT_EQ(focusable.size(), 3U);
    EXPECT_EQ(focusable[0]->name, L"List_up");
    EXPECT_EQ(focusable[1]->caption, L"Update");
    EXPECT_EQ(focusable[2]->caption, L"Cancel");
}

TEST(TwipsToPixels, ExactAt96DpiAndScaledRoundingHalvesAwayFromZeroElsewhere) {
    EXPECT_EQ(TwipsToPixels(5880, 96), 392);
    EXPECT_EQ(TwipsToPixels(5940, 96), 396);
    EXPECT_EQ(TwipsToPixels(-30, 96), -2);
    EXPECT_EQ(TwipsToPixels(1905.0 / 3, 96), 42);
    EXPECT_EQ(TwipsToPixels(5880, 144), 588);
    EXPECT_EQ(TwipsToPixels(15, 144), 2);    // 1.5 px -> 2
    EXPECT_EQ(TwipsToPixels(-15, 144), -2);  // -1.5 px -> -2
    EXPECT_EQ(TwipsToPixels(5880, 120), 490);
    EXPECT_FLOAT_EQ(PixelsToTwips(392, 96), 5880.0F);
    EXPECT_FLOAT_EQ(PixelsToTwips(3, 144), 30.0F);
}

TEST(TwipsToPixels, NonsenseStaysInRange) {
    EXPECT_EQ(TwipsToPixels(std::numeric_limits<double>::quiet_NaN(), 96), 0);
    EXPECT_EQ(TwipsToPixels(1e30, 96), 1 << 24);
    EXPECT_EQ(TwipsToPixels(-std::numeric_limits<double>::infinity(), 96), -(1 << 24));
}

}  // namespace
}  // namespace tessaloom::ui
