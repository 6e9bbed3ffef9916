// The skinned controls on a real X display (run under Xvfb) with real input
// from xdotool: a slider dragged with the pointer, its new value read back
// from the static text's pixels on the screen, and a check box pressed and
// seen with its checked image. Behaviour in detail is tested headless.
#include "../controls_gallery_resource.h"
#include "core/Storage.h"
#include "core/ZipBlock.h"
#include "imaging/Font.h"
#include "imaging/ImageFile.h"
#include "imaging/TextLayer.h"
#include "platform/Backend.h"
#include "ui/App.h"
#include "ui/CtrlButton.h"
#include "ui/CtrlSlider.h"
#include "ui/Toolkit.h"
#include "ui/gallery/ControlsGallery.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using qnui::CControlsGallery;

std::unique_ptr<plat::Platform> g_platform;
std::string g_resource;

struct Shot {
    CQNF_ImageFile file;
    uint32_t At(int32_t x, int32_t y) const
    {
        const size_t i = size_t(y) * file.GetWidth() + size_t(x);
        return uint32_t(file.GetPlane(0)[i]) << 16 | uint32_t(file.GetPlane(1)[i]) << 8 | file.GetPlane(2)[i];
    }
};

int Channel(uint32_t c, int shift) { return int((c >> shift) & 255); }

class ControlsGui : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        std::string error;
        g_platform = plat::OpenGtk(error);
        ASSERT_TRUE(g_platform) << error;
        g_resource = ::testing::TempDir() + "gui_controls.qns4";
        ASSERT_TRUE(ctrltest::BuildControlsGallery(g_resource, error)) << error;
    }
    static void TearDownTestSuite()
    {
        std::remove(g_resource.c_str());
        g_platform.reset();
    }

    void SetUp() override
    {
        ASSERT_TRUE(g_platform);
        qnui::Toolkit::Get().Attach(g_platform.get());
        m_App = &app;
        ASSERT_TRUE(app.InitStorgaeResource(g_resource.c_str(), 0));
        ASSERT_TRUE(w.CreateFromResource(CQNF_String("Controls"), 60, 60, nullptr, 0)) << w.GetError();
        w.RenderRect(qnNullRect);
        w.SetFocus();
        Settle();
    }
    void TearDown() override
    {
        if (w.GetWindowHandle()) {
            w.Close();
        }
        Settle();
        m_App = nullptr;
        qnui::Toolkit::Get().Attach(nullptr);
    }

    static bool PumpUntil(const std::function<bool()>& done, uint32_t ms = 60000)
    {
        qnui::Toolkit& tk = qnui::Toolkit::Get();
        const uint32_t start = tk.P()->NowMs();
        while (!done()) {
            if (tk.P()->NowMs() - start > ms) {
                return false;
            }
            tk.PumpFor(20);
        }
        return true;
    }
    static void Settle() { qnui::Toolkit::Get().PumpFor(300); }
    // Runs xdotool, then lets the events arrive.
    static void X(const std::string& args)
    {
        const std::string cmd = "xdotool " + args;
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        qnui::Toolkit::Get().PumpFor(60);
    }
    void MoveTo(int32_t x, int32_t y)
    {
        const qntRECT_s r = w.GetWindowRect();
        X("mousemove " + std::to_string(r.left + x) + " " + std::to_string(r.top + y));
    }
    void Screenshot(Shot& shot)
    {
        const std::string path = ::testing::TempDir() + "tessolo_" + std::to_string(::getpid()) + "_gui_controls_shot.png";
        ASSERT_EQ(std::system(("import -window root " + path).c_str()), 0);
        ASSERT_TRUE(shot.file.Load(path)) << shot.file.Reason();
        std::remove(path.c_str());
    }
    qntPOS Global(int32_t x, int32_t y) const
    {
        const qntRECT_s r = w.GetWindowRect();
        return {r.left + x, r.top + y};
    }
    // The unpacked image record at a key: its rectangle and planes.
    bool Record(const std::string& key, qntRECT_s& rect, std::vector<uint8_t>& planes)
    {
        CQNF_Mem packed;
        if (!app.GetStorage()->GetRec(CQNF_String(key.c_str()), packed)) {
            return false;
        }
        qnZipHeader h;
        if (!qnZipReadHeader(packed.GetPtr(), packed.GetSize(), h) || h.rawSize < 8) {
            return false;
        }
        std::vector<uint8_t> raw(h.rawSize);
        if (qnZipInflate(packed.GetPtr(), h, raw.data()) != 0) {
            return false;
        }
        rect = {qnGetBE16(&raw[0]), qnGetBE16(&raw[2]), qnGetBE16(&raw[4]), qnGetBE16(&raw[6])};
        planes.assign(raw.begin() + 8, raw.end());
        return true;
    }

    CQNF_App app;
    CControlsGallery w;
};

TEST_F(ControlsGui, DraggedSliderValueReadFromTheScreen)
{
    auto* slider = static_cast<CQNF_CtrlSlider*>(w.Find("Gal_Slider"));
    ASSERT_NE(slider, nullptr);
    const auto& points = slider->GetPoints();
    const qnctl::SliderPoint from = points[slider->GetPointIndex()];
    const qnctl::SliderPoint to = points[size_t(qnctl::PointOfValue(points, 83))];

    MoveTo(from.x, from.y);
    X("mousedown 1");
    MoveTo((from.x + to.x) / 2, from.y + 2);
    MoveTo(to.x, to.y + 3);
    X("mouseup 1");
    ASSERT_TRUE(PumpUntil([&] { return slider->GetValue() == 83; })) << "value " << slider->GetValue();
    Settle();

    // Read the number back from the screen: the text's ink, as a coverage
    // estimated from how far each pixel is from the paper, against the
    // coverage of "Value: N" for every N the slider can show.
    Shot shot;
    Screenshot(shot);
    const qntRECT_s box = qnui::controls::kValueText;
    const int32_t bw = box.right - box.left, bh = box.bottom - box.top;
    const qntPOS at = Global(box.left, box.top);
    const uint32_t paper = shot.At(at.x + bw - 2, at.y + bh - 2);
    std::vector<double> ink(size_t(bw) * bh);
    double darkest = 1;
    for (int32_t y = 0; y < bh; ++y) {
        for (int32_t x = 0; x < bw; ++x) {
            const uint32_t c = shot.At(at.x + x, at.y + y);
            int d = 0;
            for (int s : {0, 8, 16}) {
                d = std::max(d, std::abs(Channel(c, s) - Channel(paper, s)));
            }
            ink[size_t(y) * bw + x] = d;
            darkest = std::max(darkest, double(d));
        }
    }
    CQNF_Font font;
    ASSERT_TRUE(font.Open(app.GetStorage(), "UIResources>Fonts>Info Font"));
    int best = -1;
    double bestError = 1e18, runnerUp = 1e18;
    for (int n = 0; n <= 100; ++n) {
        CQNF_TextLayer text;
        ASSERT_TRUE(text.Create(0, 0, 1, uint16_t(bw), uint16_t(bh)));
        text.Set(qntRGBA8{0, 0, 0, 0}, 0x0F);
        text.SetFont(&font);
        text.SetText(CQNF_String(("Value: " + std::to_string(n)).c_str()), qntRGBA8{255, 255, 255, 255}, 14, 2, 2);
        const uint8_t* a = text.GetPlane(3);
        double error = 0;
        for (size_t i = 0; i < ink.size(); ++i) {
            error += std::abs(ink[i] / darkest - a[i] / 255.0);
        }
        if (error < bestError) {
            runnerUp = bestError;
            bestError = error;
            best = n;
        } else if (error < runnerUp) {
            runnerUp = error;
        }
    }
    EXPECT_EQ(best, 83);
    EXPECT_GT(runnerUp, 3 * bestError + 5) << "the reading is ambiguous: " << bestError << " vs " << runnerUp;
}

TEST_F(ControlsGui, PressedCheckBoxShowsItsCheckedImage)
{
    auto* box = static_cast<CQNF_CtrlCheckBox*>(w.Find("Gal_CheckB"));
    ASSERT_NE(box, nullptr);
    ASSERT_EQ(box->GetCheck(), 0);
    const qntRECT_s r = qnui::controls::kCheckB;
    MoveTo((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    X("click 1");
    ASSERT_TRUE(PumpUntil([&] { return box->GetCheck() == 1; }));
    MoveTo(590, 410);  // away, so the resting image shows
    ASSERT_TRUE(PumpUntil([&] { return box->GetState() == CQNF_CtrlCheckBox::StOn; }));
    Settle();

    // The screen shows the "Normal On" image over the window's background,
    // which differs from the unchecked image.
    qntRECT_s onRect{}, offRect{}, bgRect{};
    std::vector<uint8_t> on, off, bg;
    ASSERT_TRUE(Record("UIResources>Check Boxes>Gal_CheckB>Normal On", onRect, on));
    ASSERT_TRUE(Record("UIResources>Check Boxes>Gal_CheckB>Normal Off", offRect, off));
    ASSERT_TRUE(Record("UIResources>Windows>Controls>Background", bgRect, bg));
    ASSERT_EQ(onRect, offRect);
    Shot shot;
    Screenshot(shot);
    const int32_t iw = onRect.right - onRect.left, ih = onRect.bottom - onRect.top;
    const int32_t bgw = bgRect.right - bgRect.left, bgh = bgRect.bottom - bgRect.top;
    const size_t n = size_t(iw) * ih, bn = size_t(bgw) * bgh;
    size_t differsFromOff = 0, wrong = 0;
    for (int32_t y = 0; y < ih; ++y) {
        for (int32_t x = 0; x < iw; ++x) {
            const size_t i = size_t(y) * iw + x;
            const size_t b = size_t(onRect.top + y - bgRect.top) * bgw + size_t(onRect.left + x - bgRect.left);
            const qntPOS g = Global(onRect.left + x, onRect.top + y);
            const uint32_t c = shot.At(g.x, g.y);
            for (int p = 0; p < 3; ++p) {
                auto over = [&](const std::vector<uint8_t>& img) {
                    const int a = img[3 * n + i];
                    return (img[p * n + i] * a + bg[p * bn + b] * (255 - a)) / 255.0;
                };
                const int screen = Channel(c, 16 - 8 * p);
                wrong += std::abs(screen - over(on)) > 3;
                differsFromOff += std::abs(over(on) - over(off)) > 30 && std::abs(screen - over(off)) > 30;
            }
        }
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_GT(differsFromOff, 20u);  // the tick mark and the filled box
}

}  // namespace
