// The shape name, auto layout and custom mutations dialogs' rules and keys.
#include "cutter_test_util.h"

#include "app/MainModel.h"
#include "cutter/DialogModels.h"

#include <limits>

using namespace cutter_test;

TEST(CutterDialogs, EditIntegers)
{
    const struct {
        const char* text;
        int32_t value;
    } cases[] = {
        {nullptr, 0},       {"", 0},           {"abc", 0},         {"12", 12},
        {"  7x", 7},        {"-5", -5},        {"+3", 3},          {"1e9", 1},
        {"2147483647", INT32_MAX},             {"99999999999999999999", INT32_MAX},
        {"-2147483648", INT32_MIN},            {"-99999999999999999999", INT32_MIN},
    };
    for (const auto& c : cases)
        EXPECT_EQ(qnEditInteger(c.text), c.value) << (c.text ? c.text : "(null)");
}

TEST(CutterDialogs, ReturnAndEsc)
{
    const struct {
        uint8_t key;
        bool okEnabled;
        DialogKey action;
    } cases[] = {
        {kKeyReturn, true, DialogKey::Ok},     {kKeyReturn, false, DialogKey::Consumed},
        {kKeyEsc, true, DialogKey::Cancel},    {kKeyEsc, false, DialogKey::Cancel},
        {kKeyForwardDelete, true, DialogKey::NotHandled}, {'a', true, DialogKey::NotHandled},
    };
    for (const auto& c : cases)
        EXPECT_EQ(qnDialogKey(c.key, c.okEnabled), c.action) << int(c.key) << c.okEnabled;
}

TEST(CutterDialogs, ShapeNameOk)
{
    const struct {
        const char* text;
        bool ok;
    } cases[] = {{"", false}, {"   ", false}, {"a", true}, {"  knob ", true}, {nullptr, false}};
    for (const auto& c : cases)
        EXPECT_EQ(CShapeNameRule::IsOkEnabled(c.text), c.ok) << (c.text ? c.text : "(null)");
}

namespace {

struct Conf {
    TempDir dir;
    CQNF_Storage st;
    Conf() { EXPECT_TRUE(st.Open(CQNF_String((dir / "plugin.conf").c_str()), 2)); }
};

}  // namespace

TEST(CutterDialogs, AutoLayoutLimitsPerKind)
{
    CAutoLayoutModel m;
    m.settings_Load(nullptr);
    EXPECT_EQ(m.m_nRows, 2u);
    EXPECT_EQ(m.m_nCols, 2u);
    EXPECT_EQ(m.m_nKind, 0);
    EXPECT_EQ(m.m_bRegular, 0);

    m.OnEditCols("120");
    EXPECT_EQ(m.m_nCols, 97u);
    EXPECT_EQ(m.OnEditColsLF("120"), "97");
    for (const char* low : {"0", "abc", "-40"}) {
        m.OnEditRows(low);
        EXPECT_EQ(m.m_nRows, 1u) << low;
    }
    m.OnSldrCols(60);
    m.OnSldrRows(90);
    m.OnKind(CAutoLayoutModel::kHexagons);
    EXPECT_EQ(m.m_nCols, 48u);
    EXPECT_EQ(m.m_nRows, 90u);
    m.OnKind(CAutoLayoutModel::kHexagons2);
    EXPECT_EQ(m.m_nCols, 48u);
    EXPECT_EQ(m.m_nRows, 48u);
    m.OnKind(7);  // no such radio button: nothing changes
    EXPECT_EQ(m.m_nKind, CAutoLayoutModel::kHexagons2);
}

TEST(CutterDialogs, AutoLayoutKeysAreClampedWhenRead)
{
    const struct {
        uint32_t rows, cols;
        uint8_t kind, regular;
        uint32_t wantRows, wantCols;
        uint8_t wantRegular;
    } cases[] = {
        {0, 0, 0, 0, 1, 1, 0},
        {500, 500, 0, 9, 98, 97, 1},
        {500, 500, 1, 1, 97, 48, 1},
        {500, 500, 2, 0, 48, 97, 0},
        {500, 0, 3, 0, 98, 1, 0},  // an unknown kind has the limits of triangles
    };
    for (const auto& c : cases) {
        Conf conf;
        conf.st.AddFolder("Auto Layout Settings");
        conf.st.SetRecord("Auto Layout Settings>Rows", c.rows);
        conf.st.SetRecord("Auto Layout Settings>Cols", c.cols);
        conf.st.SetRecord("Auto Layout Settings>Shape", c.kind);
        conf.st.SetRecord("Auto Layout Settings>Regular", c.regular);
        CAutoLayoutModel m;
        m.settings_Load(&conf.st);
        EXPECT_EQ(m.m_nRows, c.wantRows) << int(c.kind);
        EXPECT_EQ(m.m_nCols, c.wantCols) << int(c.kind);
        EXPECT_EQ(m.m_nKind, c.kind);
        EXPECT_EQ(m.m_bRegular, c.wantRegular);
    }
}

namespace {

Bytes LayoutBlock(CWnd_MainModel& main)
{
    CQNF_Mem block;
    uint32_t length = 0;
    EXPECT_TRUE(main.settings_SaveCurLayoutAndCellSettingsToMem(&block, length));
    return Bytes(block.GetPtr(), block.GetPtr() + length);
}

}  // namespace

TEST(CutterDialogs, AutoLayoutOkStoresKeysAndLaysTheLayout)
{
    Conf conf;
    CAutoLayoutModel m;
    m.settings_Load(&conf.st);
    m.OnKind(CAutoLayoutModel::kHexagons2);
    m.OnEditRows("5");
    m.OnEditCols("7");
    m.m_bRegular = 1;

    CWnd_MainModel viaDialog, direct;
    viaDialog.SetImageSize(640, 480);
    direct.SetImageSize(640, 480);
    viaDialog.spl_SplitEvenParts(2, 2, 1, 1);
    direct.spl_SplitEvenParts(2, 2, 1, 1);
    const Bytes untouched = LayoutBlock(viaDialog);
    m.OnOk(&conf.st, &viaDialog);
    direct.AutoLayout_Hexagons_R(5, 7, 1);
    EXPECT_EQ(LayoutBlock(viaDialog), LayoutBlock(direct));
    EXPECT_NE(LayoutBlock(viaDialog), untouched);

    CAutoLayoutModel again;
    again.settings_Load(&conf.st);
    EXPECT_EQ(again.m_nRows, 5u);
    EXPECT_EQ(again.m_nCols, 7u);
    EXPECT_EQ(again.m_nKind, 2);
    EXPECT_EQ(again.m_bRegular, 1);

    // A kind above 2 lays nothing.
    CWnd_MainModel other;
    other.SetImageSize(640, 480);
    other.spl_SplitEvenParts(2, 2, 1, 1);
    const Bytes before = LayoutBlock(other);
    CAutoLayoutModel odd;
    odd.m_nKind = 3;
    odd.OnOk(nullptr, &other);
    EXPECT_EQ(LayoutBlock(other), before);
}

TEST(CutterDialogs, CustomMutations)
{
    CCustomMutationsModel m;
    m.settings_Load(nullptr);
    for (float a : m.m_fAmount)
        EXPECT_EQ(a, 0.0f);

    const struct {
        double stored;
        float amount;
        uint16_t shown;
    } cases[] = {
        {0.356, 0.356f, 36}, {10.0, 1.0f, 100}, {-2.0, 0.0f, 0}, {std::numeric_limits<double>::quiet_NaN(), 0.0f, 0},
        {0.004, 0.004f, 0},  {0.006, 0.006f, 1},
    };
    for (const auto& c : cases) {
        Conf conf;
        conf.st.AddFolder("Custom Mutations Settings");
        conf.st.SetRecord("Custom Mutations Settings>MutU", c.stored);
        CCustomMutationsModel d;
        d.settings_Load(&conf.st);
        EXPECT_EQ(d.m_fAmount[CCustomMutationsModel::kU], c.amount) << c.stored;
        EXPECT_EQ(CCustomMutationsModel::DisplayPercent(d.m_fAmount[CCustomMutationsModel::kU]), c.shown) << c.stored;
        EXPECT_EQ(d.m_fAmount[CCustomMutationsModel::kS], 0.0f);
    }

    m.OnEdit(CCustomMutationsModel::kU, "150");
    EXPECT_EQ(m.m_fAmount[CCustomMutationsModel::kU], 1.0f);
    EXPECT_EQ(m.OnEditLF(CCustomMutationsModel::kU, "150"), "100");
    EXPECT_EQ(m.OnEditLF(CCustomMutationsModel::kS, "-5"), "0");
    m.OnSldr(CCustomMutationsModel::kH, 40, true);
    for (float a : m.m_fAmount)
        EXPECT_EQ(a, 0.4f);
    m.OnSldr(CCustomMutationsModel::kS, 10, false);
    EXPECT_EQ(m.m_fAmount[CCustomMutationsModel::kS], 0.1f);
    EXPECT_EQ(m.m_fAmount[CCustomMutationsModel::kU], 0.4f);

    // OK: stored, and the editor takes the amounts in the custom mode.
    Conf conf;
    CWnd_CutterModel editor;
    editor.OnCustomMutationsOk(m, &conf.st);
    EXPECT_EQ(editor.m_nCloneMode, 6u);
    EXPECT_EQ(editor.m_fMutS, 0.1f);
    EXPECT_EQ(editor.m_fMutU, 0.4f);
    EXPECT_EQ(editor.m_fMutH, 0.4f);
    CCustomMutationsModel back;
    back.settings_Load(&conf.st);
    EXPECT_EQ(back.m_fAmount[CCustomMutationsModel::kS], 0.1f);
}
