#include "ui/form_model.h"

#include <gtest/gtest.h>

#include <limits>

#include "core/error.h"
#include "fakes.h"

namespace tessaloom::ui {
namespace {

using test::ErrorNumber;

// 90 twips a character (6 px at 96 DPI), 210 twips high, whatever the font.
TextExtent FakeMeasure(const ControlRow&, std::wstring_view text) {
    return {90.0F * static_cast<float>(text.size()), 210.0F};
}

class FormModelTest : public ::testing::Test {
protected:
    FormModel model{FakeMeasure};
};

TEST_F(FormModelTest, StartsAsTheTableSaysWithNoWindow) {
    EXPECT_EQ(model.Handle(), 0U);
    EXPECT_FALSE(model.Shown());
    EXPECT_FLOAT_EQ(model.Width(kFill), 1905.0F);
    EXPECT_FLOAT_EQ(model.Left(kCap), 3555.0F);
    EXPECT_FALSE(model.At(kCap).visible);
    EXPECT_EQ(model.At(kFileLabel).caption, L"File: ");
    EXPECT_EQ(model.At({L"Form1"}).caption, L"Tessaloom UPDATES");
    EXPECT_EQ(model.ListCount(), 0);
}

TEST_F(FormModelTest, MissingGroupElementsAndUnknownControlsAreRunTimeErrors) {
    EXPECT_EQ(ErrorNumber([&] { model.SetCaption({L"npercent_txt_up", 1}, L"x"); }), 340);
    EXPECT_EQ(ErrorNumber([&] { model.SetCaption({L"npercent_txt_up", 2}, L"x"); }), 340);
    EXPECT_EQ(ErrorNumber([&] { model.SetBorderColor({L"Shape1_up", 3}, 0); }), 340);
    EXPECT_EQ(ErrorNumber([&] { model.Width({L"ShapeprogressU", 1}); }), 340);
    EXPECT_EQ(ErrorNumber([&] { model.Width({L"ShapeprogressU"}); }), 340);  // a group needs an index
    EXPECT_EQ(ErrorNumber([&] { model.Width({L"Image13", 0}); }), 343);
    EXPECT_EQ(ErrorNumber([&] { model.Width({L"Image99"}); }), 730);
    try {
        (void)model.At({L"npercent_txt_up", 1});
        FAIL();
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.Description(), L"Control array element '1' doesn't exist");
    }
}

TEST_F(FormModelTest, OperationsAControlDoesNotHaveOrValuesItCannotTakeAreRefused) {
    EXPECT_EQ(ErrorNumber([&] { model.SetBorderColor({L"Command1"}, 0); }), 438);
    EXPECT_EQ(ErrorNumber([&] { model.SetBackColor({L"Image6"}, 0); }), 438);
    EXPECT_EQ(ErrorNumber([&] { model.SetCaption(kFill, L"x"); }), 438);
    EXPECT_EQ(ErrorNumber([&] { model.SetWidth({L"Form1"}, 10); }), 438);
    EXPECT_EQ(ErrorNumber([&] { model.SetWidth(kFill, -1); }), 380);
    EXPECT_EQ(ErrorNumber([&] { model.SetWidth(kFill, std::numeric_limits<float>::quiet_NaN()); }), 380);
    EXPECT_EQ(ErrorNumber([&] { model.SetLeft(kCap, std::numeric_limits<float>::infinity()); }), 380);
    EXPECT_FLOAT_EQ(model.Width(kFill), 1905.0F);  // a refused value changes nothing
    model.SetWidth(kFill, 0);
    model.SetLeft(kCap, -45.5F);
    EXPECT_FLOAT_EQ(model.Width(kFill), 0.0F);
    EXPECT_FLOAT_EQ(model.Left(kCap), -45.5F);
}

TEST_F(FormModelTest, ThemeColoursReachTheirControls) {
    for (int index = 0; index <= 2; ++index) {
        model.SetBorderColor({L"Shape1_up", index}, 0x00C1AC7F);
    }
    for (std::wstring_view name : {L"Form1", L"Command1", L"Command2", L"Frame1_up"}) {
        model.SetBackColor({name}, 0x00E1D7C2);
    }
    EXPECT_EQ(model.At({L"Shape1_up", 1}).borderColour, 0x00C1AC7FU);
    EXPECT_EQ(model.At({L"Frame1_up"}).backColour, 0x00E1D7C2U);
    EXPECT_EQ(model.At({L"Form1"}).backColour, 0x00E1D7C2U);
    EXPECT_EQ(model.At({L"Shape1_up", 2}).backColour, kWindowBackground);  // only the outline changes
}

TEST_F(FormModelTest, FileLabelGrowsToItsTextKeepingItsRightEdgeBesideTheBar) {
    const float right = model.Left(kFileLabel) + model.Width(kFileLabel);
    model.SetCaption(kFileLabel, L"a rather long file name.dll");  // 27 characters
    EXPECT_FLOAT_EQ(model.Width(kFileLabel), 27 * 90.0F);
    EXPECT_FLOAT_EQ(model.Left(kFileLabel) + model.Width(kFileLabel), right);
    EXPECT_FLOAT_EQ(model.Left(kFileLabel), 3435.0F - 2430.0F);  // it grows to the left
    model.SetCaption(kFileLabel, L"a");
    EXPECT_FLOAT_EQ(model.Left(kFileLabel), right - 90.0F);
}

TEST_F(FormModelTest, LeftAlignedAutoSizeLabelKeepsItsLeftEdgeAndOtherCaptionsKeepTheirSize) {
    model.SetCaption({L"npercent_txt_up", 3}, L"abc");
    EXPECT_FLOAT_EQ(model.Left({L"npercent_txt_up", 3}), 600.0F);
    EXPECT_FLOAT_EQ(model.Width({L"npercent_txt_up", 3}), 270.0F);
    model.SetCaption({L"Command1"}, L"a much longer caption than fits");
    EXPECT_FLOAT_EQ(model.Width({L"Command1"}), 1260.0F);
}

TEST_F(FormModelTest, FittingTheLabelsToTheirFontKeepsEachAlignedEdge) {
    model.FitAutoSizeLabels();
    EXPECT_FLOAT_EQ(model.Width(kFileLabel), 6 * 90.0F);  // "File: "
    EXPECT_FLOAT_EQ(model.Left(kFileLabel) + model.Width(kFileLabel), 3435.0F);
    EXPECT_FLOAT_EQ(model.Width({L"npercent_txt_up", 3}), 13 * 90.0F);  // "List of Files"
    EXPECT_FLOAT_EQ(model.Left({L"npercent_txt_up", 3}), 600.0F);
}

TEST_F(FormModelTest, ListKeepsLinesInOrderWithoutSorting) {
    model.AddListLine(L"b.dll");
    model.AddListLine(L"a.dll");
    model.AddListLine(L"b.dll");
    EXPECT_EQ(model.ListCount(), 3);
    EXPECT_EQ(model.At({L"List_up"}).lines, (std::vector<std::wstring>{L"b.dll", L"a.dll", L"b.dll"}));
    model.ClearList();
    EXPECT_EQ(model.ListCount(), 0);
}

}  // namespace
}  // namespace tessaloom::ui
