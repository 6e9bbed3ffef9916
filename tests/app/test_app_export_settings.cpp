// The export dialogs' and the preferences' models: counts, texts, keys in
// "plugin.conf", OK and Cancel.
#include "app/ExportSettings.h"
#include "app/Preferences.h"
#include "core/Storage.h"
#include "test_app_export_fixture.h"
#include "imaging/Image.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using export_test::Conf;

CExportStats Stats(uint32_t t, uint32_t s, uint32_t sh, uint32_t h) { return CExportStats{t, s, sh, h}; }

CExportSettings Settings(uint8_t what, uint8_t to, uint8_t hidden = 0, uint8_t composite = 1)
{
    CExportSettings s;
    s.exportWhat = what;
    s.exportTo = to;
    s.includeHiddenPieces = hidden;
    s.includeComposite = composite;
    return s;
}

TEST(ExportDialog, ResultCountsFollowTheSettings)
{
    // 10 pieces, 3 selected of which 1 hidden, 2 hidden in all.
    const CExportStats ten = Stats(10, 3, 1, 2);
    struct Case {
        const char* what;
        CExportSettings settings;
        uint32_t n;
        bool composite;
    } cases[] = {
        {"selected to PNG, composite off", Settings(2, 2, 0, 0), 2, true},
        {"selected to PNG with the composite", Settings(2, 2, 0, 1), 3, true},
        {"selected to PSD with hidden, no composite", Settings(2, 1, 1, 0), 3, true},
        {"selected to PSD with hidden and composite", Settings(2, 1, 1, 1), 4, true},
        {"selected to PSD without hidden", Settings(2, 1, 0, 0), 2, true},
        {"all to PNG", Settings(3, 2), 8, false},
        {"all to PSD with hidden", Settings(3, 1, 1), 10, false},
        {"merged", Settings(1, 1), 1, false},
    };
    for (const Case& c : cases) {
        const CExportDialogModel m(ten, c.settings);
        EXPECT_EQ(m.Result(), c.n) << c.what;
        EXPECT_EQ(m.Enabled().composite, c.composite) << c.what;
        EXPECT_TRUE(m.Enabled().exportButton) << c.what;
    }
}

TEST(ExportDialog, EnabledStates)
{
    const CExportStats ten = Stats(10, 3, 1, 2);
    CExportDialogModel m(ten, Settings(2, 1));
    EXPECT_TRUE(m.Enabled().hidden) << "PSD, a selected hidden piece";
    EXPECT_FALSE(m.Enabled().fullCanvas);
    m.OnExportTo(CExportSettings::kToPNG);
    EXPECT_FALSE(m.Enabled().hidden) << "hidden pieces never go to PNG";
    EXPECT_TRUE(m.Enabled().fullCanvas);
    m.OnExportWhat(CExportSettings::kMerged);
    EXPECT_FALSE(m.Enabled().fullCanvas);
    EXPECT_FALSE(m.Enabled().woBevel);
    EXPECT_FALSE(m.Enabled().naming);
    // Every piece selected: no other piece to make a composite of.
    EXPECT_FALSE(CExportDialogModel(Stats(4, 4, 0, 0), Settings(2, 1)).Enabled().composite);
    // The unselected pieces all hidden: neither.
    EXPECT_FALSE(CExportDialogModel(Stats(4, 2, 0, 2), Settings(2, 1)).Enabled().composite);
}

TEST(ExportDialog, NothingSelectedSwitchesToAllPieces)
{
    CExportDialogModel m(Stats(12, 0, 0, 0), Settings(2, 1));
    EXPECT_EQ(m.Settings().exportWhat, CExportSettings::kAll);
    EXPECT_FALSE(m.Enabled().selected);
    EXPECT_EQ(m.Result(), 12u);
    m.OnExportWhat(CExportSettings::kSelected);
    EXPECT_EQ(m.Settings().exportWhat, CExportSettings::kAll);
}

TEST(ExportDialog, TextsAndSamples)
{
    CExportDialogModel m(Stats(10, 3, 1, 2), Settings(3, 2));
    m.OnNaming(CExportSettings::kNamesExtended);
    const std::string t = m.DisplayText();
    EXPECT_EQ(t.substr(0, 20), "Pieces' Statistics:\n");
    EXPECT_NE(t.find(" Total :\t10\n Selected :\t3\n"), std::string::npos);
    EXPECT_NE(t.find(" Shown...\n ...total :\t8\n ...selected :\t2\n\n Hidden...\n ...total :\t2\n"),
              std::string::npos);
    EXPECT_EQ(t.substr(t.size() - 16), "Result: 8 files\n");
    EXPECT_EQ(m.NamingSample(), "[file]_F0112-Piece95_R8_C12");
    m.OnNaming(CExportSettings::kNamesSimple);
    EXPECT_EQ(m.NamingSample(), "[file]_0112");
    m.OnExportTo(CExportSettings::kToPSD);
    EXPECT_EQ(m.NamingSample(), "Layer 112");
    m.OnNaming(CExportSettings::kNamesExtended);
    EXPECT_EQ(m.NamingSample(), "L112 - Piece: 95 (R: 8 / C: 12)");
    m.OnExportWhat(CExportSettings::kMerged);
    EXPECT_EQ(m.NamingSample(), "Merged");
    EXPECT_NE(m.DisplayText().find("Result: 1 layer\n"), std::string::npos);

    // Every piece hidden, to PNG: nothing to export.
    CExportDialogModel none(Stats(5, 0, 0, 5), Settings(3, 2));
    EXPECT_EQ(none.Result(), 0u);
    EXPECT_FALSE(none.Enabled().exportButton);
    EXPECT_EQ(none.NamingSample(), " ---");
    EXPECT_NE(none.DisplayText().find("Result:  --- \n"), std::string::npos);
}

TEST(ExportDialog, WarningsAtOneHundredLayersAndFiveHundredFiles)
{
    struct Case {
        uint32_t pieces;
        uint8_t to;
        CExportDialogModel::Warning w;
    } cases[] = {{100, 1, CExportDialogModel::Warning::None},
                 {101, 1, CExportDialogModel::Warning::ManyLayers},
                 {500, 2, CExportDialogModel::Warning::None},
                 {501, 2, CExportDialogModel::Warning::ManyFiles}};
    for (const Case& c : cases)
        EXPECT_EQ(CExportDialogModel(Stats(c.pieces, 0, 0, 0), Settings(3, c.to)).OkWarning(), c.w) << c.pieces;
    EXPECT_EQ(CExportDialogModel::WarningTitle(CExportDialogModel::Warning::ManyFiles, 501),
              "You are about to save very many files (501)!");
}

TEST(ExportSettingsKeys, RoundTripAndOutOfRangeValuesFallBack)
{
    Conf c;
    CExportSettings s;
    s.exportWhat = 1;
    s.exportTo = 2;
    s.namingMode = 1;
    s.includeComposite = 0;
    s.exportWOBevel = 1;
    s.includeHiddenPieces = 1;
    s.preservePosition = 0;
    ASSERT_TRUE(s.settings_Save(&c.st));
    CExportSettings back;
    back.settings_Load(&c.st);
    EXPECT_EQ(back.exportWhat, 1);
    EXPECT_EQ(back.exportTo, 2);
    EXPECT_EQ(back.namingMode, 1);
    EXPECT_EQ(back.includeComposite, 0);
    EXPECT_EQ(back.exportWOBevel, 1);
    EXPECT_EQ(back.includeHiddenPieces, 1);
    EXPECT_EQ(back.preservePosition, 0);

    // Values no radio stands for keep the defaults.
    ASSERT_TRUE(c.st.SetRecord("Export Settings>ExportWhat", uint8_t(7)));
    ASSERT_TRUE(c.st.SetRecord("Export Settings>ExportTo", uint8_t(0)));
    ASSERT_TRUE(c.st.SetRecord("Export Settings>PreservePosition", uint8_t(2)));
    CExportSettings fallback;
    fallback.settings_Load(&c.st);
    EXPECT_EQ(fallback.exportWhat, 2);
    EXPECT_EQ(fallback.exportTo, 1);
    EXPECT_EQ(fallback.preservePosition, 1);

    CExportLMSettings lm;
    lm.exportWhat = 3;
    lm.exportTo = 2;
    ASSERT_TRUE(lm.settings_Save(&c.st));
    CExportLMSettings lmBack;
    lmBack.settings_Load(&c.st);
    EXPECT_EQ(lmBack.exportWhat, 3);
    EXPECT_EQ(lmBack.exportTo, 2);
    ASSERT_TRUE(c.st.SetRecord("Export LM Settings>ExportWhat", uint8_t(1)));
    CExportLMSettings lmFallback;
    lmFallback.settings_Load(&c.st);
    EXPECT_EQ(lmFallback.exportWhat, 2) << "1 is no knives choice";
    // A closed storage is left alone.
    CQNF_Storage closed;
    EXPECT_FALSE(s.settings_Save(&closed));
    EXPECT_FALSE(s.settings_Save(nullptr));
}

TEST(ExportLMDialog, CountsAndTexts)
{
    // 24 knives, 6 switched off, 5 selected of which 2 switched off.
    const CExportLMStats stats{24, 5, 6, 2};
    CExportLMSettings s;
    CExportLMDialogModel m(stats, s);
    EXPECT_EQ(m.Result(), 3u);
    EXPECT_NE(m.DisplayText().find("Result: 3 knives\n"), std::string::npos);
    EXPECT_EQ(m.DisplayText().substr(0, 20), "Knives' Statistics:\n");
    m.OnExportWhat(CExportLMSettings::kAll);
    EXPECT_EQ(m.Result(), 18u);
    m.OnExportWhat(9);
    EXPECT_EQ(m.Settings().exportWhat, CExportLMSettings::kAll);

    CExportLMDialogModel noneSelected(CExportLMStats{24, 0, 6, 0}, s);
    EXPECT_EQ(noneSelected.Settings().exportWhat, CExportLMSettings::kAll);
    EXPECT_FALSE(noneSelected.SelectedEnabled());

    CExportLMDialogModel allOff(CExportLMStats{4, 0, 4, 0}, s);
    EXPECT_EQ(allOff.Result(), 0u);
    EXPECT_FALSE(allOff.ExportEnabled());
    EXPECT_NE(allOff.DisplayText().find("Result:  --- \n"), std::string::npos);
    EXPECT_NE(CExportLMDialogModel(CExportLMStats{4, 0, 3, 0}, s).DisplayText().find("Result: 1 knife\n"),
              std::string::npos);
}

TEST(ExportLMDialog, StatisticsCountEveryKindOfKnife)
{
    app_test::Model m;
    ASSERT_TRUE(m.spl_SplitEvenParts(3, 2, 1, 1));
    bool added = false;
    for (uint32_t a = 0; a < m.m_nKnots && !added; ++a)
        for (uint32_t b = a + 1; b < m.m_nKnots && !added; ++b)
            added = m.i_cmop_IsPossibleKnotsForAuxKnife(a, b) && m.i_op_AddAuxKnifeToKnots(a, b);
    ASSERT_TRUE(added);
    m.m_ColKnives[0].off = 1;
    m.m_ColKnives[0].selected = 1;
    m.m_RowKnives[1].selected = 1;
    m.m_AuxKnives[0].knife.off = 1;
    const CExportLMStats s = CExportLMStats::FromModel(m);
    EXPECT_EQ(s.total, m.m_nColKnives + m.m_nRowKnives + 1);
    EXPECT_EQ(s.selected, 2u);
    EXPECT_EQ(s.off, 2u);
    EXPECT_EQ(s.selectedOff, 1u);
}

// ---- Preferences ----------------------------------------------------------------

TEST(Preferences, OpacityPercentConversions)
{
    struct Case {
        const char* typed;
        const char* shown;  // after leaving the edit
        uint8_t stored;
    } cases[] = {{"5", "10", 25}, {"80", "50", 127}, {"27", "27", 68}, {"abc", "10", 25},
                 {" 33x", "33", 84}, {"-4", "10", 25}, {"99999999999999999999", "50", 127}};
    for (const Case& c : cases) {
        CPrefDialogModel m{CPreferences{}};
        EXPECT_EQ(m.OnEdit_LF(c.typed), c.shown) << c.typed;
        EXPECT_EQ(m.Values().delKnifeOpacity, c.stored) << c.typed;
        // Reopening shows what was typed, within the range.
        EXPECT_EQ(CPrefDialogModel(m.Values()).OpacityText(), c.shown) << c.typed;
    }
    EXPECT_EQ(CPreferences::PercentFromOpacity(70), 27u) << "the default";
    for (int p = 10; p <= 50; ++p)
        EXPECT_EQ(CPreferences::PercentFromOpacity(CPreferences::OpacityFromPercent(p)), uint32_t(p)) << p;
    // Typing keeps the text but stores the clamped value.
    CPrefDialogModel m{CPreferences{}};
    m.OnEdit("7");
    EXPECT_EQ(m.Values().delKnifeOpacity, 25);
}

TEST(Preferences, KeysRoundTripAndBadRecordsKeepDefaults)
{
    Conf c;
    CPreferences p;
    p.onLoadZoom = 0;
    p.delKnifeOpacity = 100;
    p.alphaSolid = 1;
    p.extAlphaSolid = 1;
    p.alphaColor1 = {1, 2, 3, 4};
    p.alphaColor2 = {5, 6, 7, 8};
    p.alphaColorSolid = {9, 10, 11, 12};
    p.extAlphaColor1 = {13, 14, 15, 16};
    p.extAlphaColor2 = {17, 18, 19, 20};
    p.extAlphaColorSolid = {21, 22, 23, 24};
    ASSERT_TRUE(p.settings_Save(&c.st));
    CPreferences back;
    back.settings_Load(&c.st);
    EXPECT_TRUE(back == p);
    // Saved twice (the folder exists): still fine.
    EXPECT_TRUE(p.settings_Save(&c.st));

    Conf bad;
    ASSERT_TRUE(bad.st.AddFolder("Preferences"));
    const unsigned char three[3] = {1, 2, 3}, five[5] = {1, 2, 3, 4, 5};
    ASSERT_TRUE(bad.st.SetRecord("Preferences>AlphaColor1", three, 3));
    ASSERT_TRUE(bad.st.SetRecord("Preferences>AlphaColor2", five, 5));
    ASSERT_TRUE(bad.st.SetRecord("Preferences>OnLoadZoom", uint32_t(0)));
    ASSERT_TRUE(bad.st.SetRecord("Preferences>DelKnifeOpacity", uint8_t(40)));
    CPreferences d;
    d.settings_Load(&bad.st);
    CPreferences expected;
    expected.delKnifeOpacity = 40;
    EXPECT_TRUE(d == expected);
}

TEST(Preferences, OkStoresEverythingAndCancelStoresNothing)
{
    Conf c;
    CPreferences main;
    {
        // Cancel: the model is dropped after several changes.
        CPrefDialogModel m(main);
        m.OnColorPicked(CPrefDialogModel::kTSolid, {1, 1, 1, 255});
        m.OnEdit_LF("40");
        m.OnFitOnLoad(false);
    }
    EXPECT_TRUE(main == CPreferences{});
    EXPECT_EQ(c.st.GetRecType("Preferences"), kQnStorageNoRecord);

    CPrefDialogModel same(main);
    EXPECT_FALSE(same.OnOk(main, &c.st)) << "an unchanged opacity needs no knife redraw";
    CQNF_StringArray names;
    ASSERT_TRUE(c.st.GetAllRecords("Preferences", names));
    EXPECT_EQ(names.GetSize(), 10u) << "all ten records, changed or not";

    CPrefDialogModel m(main);
    m.OnEdit_LF("40");
    m.OnColorPicked(CPrefDialogModel::kFCB2, {9, 8, 7, 255});
    EXPECT_TRUE(m.OnOk(main, nullptr)) << "no storage: applied, not stored";
    EXPECT_EQ(main.delKnifeOpacity, 102);
    EXPECT_EQ(main.extAlphaColor2.r, 9);
}

TEST(Preferences, PicksSwitchTheirPairAndTheZonesAndSwatchesAreFound)
{
    CPreferences start;
    start.alphaSolid = 1;
    start.extAlphaSolid = 0;
    CPrefDialogModel m(start);
    struct Case {
        CPrefDialogModel::Swatch swatch;
        const char* radio;
        uint8_t alphaSolid, extAlphaSolid;
    } cases[] = {{CPrefDialogModel::kTCB1, "Pref_TCB", 0, 0},  {CPrefDialogModel::kFSolid, "Pref_FSolid", 0, 1},
                 {CPrefDialogModel::kTSolid, "Pref_TSolid", 1, 1}, {CPrefDialogModel::kFCB2, "Pref_FCB", 1, 0},
                 {CPrefDialogModel::kTCB2, "Pref_TCB", 0, 0}};
    for (const Case& c : cases) {
        m.OnColorPicked(c.swatch, {uint8_t(c.swatch * 10), 0, 0, 255});
        EXPECT_STREQ(CPrefDialogModel::SwatchRadio(c.swatch), c.radio);
        EXPECT_EQ(m.Values().alphaSolid, c.alphaSolid) << c.radio;
        EXPECT_EQ(m.Values().extAlphaSolid, c.extAlphaSolid) << c.radio;
        EXPECT_EQ(m.SwatchColor(c.swatch).r, uint8_t(c.swatch * 10));
    }

    CPrefDialogModel::RECTS r;
    r.preview = {10, 10, 110, 80};
    r.tcb1 = {120, 10, 130, 20};
    r.tcb2 = {130, 10, 140, 20};
    r.tsolid = {150, 10, 160, 20};
    r.fcb1 = {120, 30, 130, 40};
    r.fcb2 = {130, 30, 140, 40};
    r.fsolid = {150, 30, 160, 40};
    EXPECT_EQ(CPrefDialogModel::SwatchAt(r, 129, 19), CPrefDialogModel::kTCB1);
    EXPECT_EQ(CPrefDialogModel::SwatchAt(r, 130, 19), CPrefDialogModel::kTCB2) << "rectangles are half-open";
    EXPECT_EQ(CPrefDialogModel::SwatchAt(r, 155, 35), CPrefDialogModel::kFSolid);
    EXPECT_EQ(CPrefDialogModel::SwatchAt(r, 50, 50), CPrefDialogModel::kNoSwatch);
    EXPECT_EQ(CPrefDialogModel::ZoneAt(r, 50, 50), CPrefDialogModel::kZonePreview);
    EXPECT_STREQ(CPrefDialogModel::ZoneName(CPrefDialogModel::ZoneAt(r, 135, 35)), "Zone_SwatchF");

    // Moving within one zone (one swatch of a pair to the other) sends no
    // new tip; a control in between resets the zone.
    CPrefDialogModel z{CPreferences{}};
    EXPECT_TRUE(z.OnPointerZone(CPrefDialogModel::ZoneAt(r, 125, 15)));
    EXPECT_FALSE(z.OnPointerZone(CPrefDialogModel::ZoneAt(r, 135, 15)));
    EXPECT_TRUE(z.OnPointerZone(CPrefDialogModel::ZoneAt(r, 0, 0)));
    z.OnAboveAnyControl();
    EXPECT_TRUE(z.OnPointerZone(CPrefDialogModel::kZoneSwatchT));
    // Every opening of the dialog starts afresh.
    EXPECT_TRUE(CPrefDialogModel{CPreferences{}}.OnPointerZone(CPrefDialogModel::kNoZone) == false);
}

TEST(Preferences, PreviewShowsTheFramePairAroundTheTransparencyPair)
{
    CPreferences p;
    p.extAlphaSolid = 1;
    p.extAlphaColorSolid = {10, 20, 30, 255};
    p.alphaColor1 = {200, 0, 0, 255};
    p.alphaColor2 = {0, 200, 0, 255};
    CQNF_Image layer;
    ASSERT_TRUE(layer.Create(100, 80, 2));
    ASSERT_TRUE(CPrefDialogModel(p).DrawPreview(layer));
    auto px = [&](uint16_t x, uint16_t y) { return layer.GetPixel(x, y); };
    EXPECT_EQ(px(0, 0).r, 10);
    EXPECT_EQ(px(21, 40).g, 20) << "22-pixel frame";
    EXPECT_EQ(px(99, 79).b, 30);
    // The inner checkerboard: cells of 8 alternate.
    const qntRGBA8 a = px(22, 22), b = px(30, 22), c = px(30, 30);
    EXPECT_NE(a.r, b.r);
    EXPECT_EQ(a.r, c.r);
    EXPECT_TRUE((a.r == 200 && b.g == 200) || (a.g == 200 && b.r == 200));
    CQNF_Image empty;
    EXPECT_FALSE(CPrefDialogModel(p).DrawPreview(empty));
}

}  // namespace
