// The stand-in host's services: handles, descriptors, properties, colours and
// the channel-ports suite over the document's layers.
#include "host_test_plugins.h"
#include "hostapp/InputDocument.h"
#include "hostapp/OutputFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include <gtest/gtest.h>

using namespace hostapp;
using namespace hosttest;

namespace {

HostDocument SmallDoc(ColorMode mode = ColorMode::RGB, bool alpha = false)
{
    RasterImage img;
    img.Allocate(mode, 6, 4, alpha, 100);
    return HostDocument::FromImage(img, "Layer 1");
}

class HostServices : public ::testing::Test {
protected:
    void TearDown() override { StartScript() = nullptr; }
};

FilterHandle TextHandle(FilterRecord* r, const char* text, size_t size)
{
    FilterHandle h = r->handleProcs->newProc(static_cast<int32_t>(size));
    char* p = r->handleProcs->lockProc(h, 0);
    std::memcpy(p, text, size);
    r->handleProcs->unlockProc(h);
    return h;
}

TEST_F(HostServices, LeakedAndUnknownHandlesAreViolations)
{
    StandInHost host(SmallDoc(), HostSettings{});
    StartScript() = [](FilterRecord* r) {
        r->handleProcs->newProc(10);  // never disposed
        FilterHandle ok = r->handleProcs->newProc(0);
        EXPECT_NE(r->handleProcs->lockProc(ok, 0), nullptr);
        r->handleProcs->unlockProc(ok);
        r->handleProcs->disposeProc(ok);
        r->handleProcs->disposeProc(ok);  // twice
        return int16_t{0};
    };
    ASSERT_EQ(host.Run(&ScriptedPlugin, StandInHost::Sequence::Replay), 0);
    ASSERT_EQ(host.Violations().size(), 2u);
    EXPECT_NE(host.Violations()[0].find("does not know"), std::string::npos);
    EXPECT_NE(host.Violations()[1].find("1 handle"), std::string::npos);
}

TEST_F(HostServices, DescriptorRoundTripsByteExactAcrossRunsInAnyKeyOrder)
{
    StandInHost host(SmallDoc(), HostSettings{});
    const char text[] = {'A', 'B', '\0', 'C', '\0'};
    StartScript() = [&](FilterRecord* r) {
        DescriptorParameters* d = r->descriptorParameters;
        DescriptorWriteToken t = d->writeDescriptorProcs->openWriteDescriptorProc();
        d->writeDescriptorProcs->putIntegerProc(t, FILTER_FOURCC('q', 'n', 'e', 'S'), -7);
        FilterHandle h = TextHandle(r, text, sizeof text);
        EXPECT_EQ(d->writeDescriptorProcs->putTextProc(t, FILTER_FOURCC('q', 'n', 'e', '0'), h), 0);
        r->handleProcs->disposeProc(h);
        r->handleProcs->disposeProc(d->descriptor);
        FilterHandle fresh = nullptr;
        EXPECT_EQ(d->writeDescriptorProcs->closeWriteDescriptorProc(t, &fresh), 0);
        d->descriptor = fresh;
        return int16_t{0};
    };
    ASSERT_EQ(host.Run(&ScriptedPlugin, StandInHost::Sequence::Replay), 0);
    ASSERT_TRUE(host.HasDescriptor());

    int32_t integer = 0;
    std::vector<uint8_t> read;
    std::vector<DescriptorKey> keys;
    StartScript() = [&](FilterRecord* r) {
        DescriptorParameters* d = r->descriptorParameters;
        DescriptorReadToken t = d->readDescriptorProcs->openReadDescriptorProc(d->descriptor, nullptr);
        EXPECT_NE(t, nullptr);
        DescriptorKey key;
        DescriptorType type;
        int32_t flags;
        while (d->readDescriptorProcs->getKeyProc(t, &key, &type, &flags)) {
            keys.push_back(key);
            if (type == descriptorTypeInteger) {
                d->readDescriptorProcs->getIntegerProc(t, &integer);
            } else {
                FilterHandle h = nullptr;
                EXPECT_EQ(d->readDescriptorProcs->getTextProc(t, &h), 0);
                const char* p = r->handleProcs->lockProc(h, 0);
                read.assign(p, p + r->handleProcs->getSizeProc(h));
                r->handleProcs->unlockProc(h);
                r->handleProcs->disposeProc(h);
            }
        }
        d->readDescriptorProcs->closeReadDescriptorProc(t);
        return int16_t{0};
    };
    ASSERT_EQ(host.Run(&ScriptedPlugin, StandInHost::Sequence::Replay), 0);
    EXPECT_EQ(integer, -7);
    EXPECT_EQ(read, std::vector<uint8_t>(text, text + sizeof text));
    EXPECT_EQ(keys.size(), 2u);
    EXPECT_TRUE(host.Violations().empty());
}

TEST_F(HostServices, LongTextIsRefusedWhenTheHostLimitsIt)
{
    HostSettings s;
    s.maxText = 8;
    StandInHost host(SmallDoc(), s);
    std::vector<int16_t> answers;
    StartScript() = [&](FilterRecord* r) {
        DescriptorParameters* d = r->descriptorParameters;
        DescriptorWriteToken t = d->writeDescriptorProcs->openWriteDescriptorProc();
        for (size_t n : {8u, 9u}) {
            FilterHandle h = TextHandle(r, "0123456789", n);
            answers.push_back(d->writeDescriptorProcs->putTextProc(t, FILTER_FOURCC('q', 'n', 'e', '0'), h));
            r->handleProcs->disposeProc(h);
        }
        FilterHandle fresh = nullptr;
        d->writeDescriptorProcs->closeWriteDescriptorProc(t, &fresh);
        r->handleProcs->disposeProc(fresh);
        return int16_t{0};
    };
    ASSERT_EQ(host.Run(&ScriptedPlugin, StandInHost::Sequence::Replay), 0);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0], 0);
    EXPECT_NE(answers[1], 0);
}

TEST_F(HostServices, OpenTokensAndHeldSuitesAreViolations)
{
    StandInHost host(SmallDoc(), HostSettings{});
    StartScript() = [](FilterRecord* r) {
        r->descriptorParameters->writeDescriptorProcs->openWriteDescriptorProc();
        const void* suite = nullptr;
        EXPECT_EQ(r->sSPBasic->AcquireSuite(filterChannelPortsSuiteName, 2, &suite), 0);
        EXPECT_NE(r->sSPBasic->AcquireSuite(filterChannelPortsSuiteName, 3, &suite), 0);
        return int16_t{0};
    };
    ASSERT_EQ(host.Run(&ScriptedPlugin, StandInHost::Sequence::Replay), 0);
    EXPECT_EQ(host.HeldSuites(), 1);
    ASSERT_GE(host.Violations().size(), 2u);
}

TEST_F(HostServices, PropertiesNameEveryDocumentChannel)
{
    HostDocument doc = SmallDoc(ColorMode::CMYK, true);
    std::string err;
    ASSERT_TRUE(doc.AddChannel(std::vector<uint8_t>(24, 0), "Spot", err));
    doc.ruler = 6;
    StandInHost host(std::move(doc), HostSettings{});
    std::vector<std::string> names;
    intptr_t count = 0, ruler = 0;
    int16_t badSignature = 0;
    StartScript() = [&](FilterRecord* r) {
        r->getPropertyProc(filterPropSignature, filterPropRulerUnits, 0, &ruler, nullptr);
        r->getPropertyProc(filterPropSignature, filterPropNumberOfChannels, 0, &count, nullptr);
        badSignature = r->getPropertyProc(FILTER_FOURCC('x', 'x', 'x', 'x'), filterPropRulerUnits, 0, &ruler, nullptr);
        for (int i = 0; i <= count; ++i) {
            FilterHandle h = nullptr;
            if (r->getPropertyProc(filterPropSignature, filterPropChannelName, i, nullptr, &h) != 0)
                break;
            const char* p = r->handleProcs->lockProc(h, 0);
            names.emplace_back(p, static_cast<size_t>(r->handleProcs->getSizeProc(h)));
            r->handleProcs->unlockProc(h);
            r->handleProcs->disposeProc(h);
        }
        return int16_t{0};
    };
    ASSERT_EQ(host.Run(&ScriptedPlugin, StandInHost::Sequence::Replay), 0);
    EXPECT_EQ(ruler, 6);
    EXPECT_EQ(count, 6);
    EXPECT_NE(badSignature, 0);
    EXPECT_EQ(names, (std::vector<std::string>{"Cyan", "Magenta", "Yellow", "Black", "Transparency", "Spot"}));
}

TEST_F(HostServices, ColourServicesConvertAndPick)
{
    HostSettings s;
    s.pickCancels = false;
    s.pick[0] = 10;
    s.pick[1] = 20;
    s.pick[2] = 30;
    StandInHost host(SmallDoc(), s);
    ColorServicesInfo gray{}, cmyk{}, chosen{};
    StartScript() = [&](FilterRecord* r) {
        gray = ColorServicesInfo{sizeof gray, colorServicesConvertColor, colorSpaceRGB, colorSpaceGray, {30, 60, 90, 0},
                                 nullptr};
        r->colorServices(&gray);
        cmyk = ColorServicesInfo{sizeof cmyk, colorServicesConvertColor, colorSpaceRGB, colorSpaceCMYK,
                                 {30, 60, 90, 0}, nullptr};
        r->colorServices(&cmyk);
        chosen = ColorServicesInfo{sizeof chosen, colorServicesChooseColor, colorSpaceRGB, colorSpaceRGB, {0, 0, 0, 0},
                                   nullptr};
        EXPECT_EQ(r->colorServices(&chosen), 0);
        return int16_t{0};
    };
    ASSERT_EQ(host.Run(&ScriptedPlugin, StandInHost::Sequence::Replay), 0);
    EXPECT_EQ(gray.components[0], 60);
    EXPECT_EQ(cmyk.components[0], 30);
    EXPECT_EQ(cmyk.components[3], 255);
    EXPECT_EQ(chosen.components[2], 30);
}

TEST_F(HostServices, ChannelPortsReadLayersAndTheMergedComposite)
{
    RasterImage bottom;
    bottom.Allocate(ColorMode::Gray, 4, 3, false, 10);
    HostDocument doc = HostDocument::FromImage(bottom, "bg");
    RasterImage top;
    top.Allocate(ColorMode::Gray, 4, 3, true, 200);
    for (size_t i = 0; i < 12; ++i)
        top.planes[1][i] = i < 6 ? 255 : 0;  // upper half opaque
    std::string err;
    ASSERT_TRUE(doc.AddLayer(top, "top", err));
    StandInHost host(std::move(doc), HostSettings{});
    std::vector<uint8_t> merged(12), alpha(12), scaled(4);
    std::vector<int32_t> ids;
    StartScript() = [&](FilterRecord* r) {
        const ChannelPortsSuite* ports = nullptr;
        EXPECT_EQ(r->sSPBasic->AcquireSuite(filterChannelPortsSuiteName, 2, reinterpret_cast<const void**>(&ports)), 0);
        for (LayerDescription* l = r->documentInfo->layersDescriptor; l; l = l->next)
            ids.push_back(l->sheetID);
        const FilterRect32 all{0, 0, 3, 4};
        PixelMemoryDesc desc{merged.data(), 4 * 8, 8, 0, 8};
        uint8_t can = 0;
        EXPECT_EQ(ports->CanRead(r->documentInfo->mergedCompositeChannels->port, &can), 0);
        EXPECT_EQ(can, 1);
        EXPECT_EQ(ports->ReadPixelsFromLevel(r->documentInfo->mergedCompositeChannels->port, 0, &all, &desc), 0);
        desc.data = alpha.data();
        EXPECT_EQ(ports->ReadPixelsFromLevel(r->documentInfo->layersDescriptor->next->transparency->port, 0, &all, &desc),
                  0);
        const ScalingDesc half{all, FilterRect32{0, 0, 2, 2}};
        const FilterRect32 dest{0, 0, 2, 2};
        PixelMemoryDesc small{scaled.data(), 2 * 8, 8, 0, 8};
        EXPECT_EQ(ports->ReadScaledPixels(r->documentInfo->mergedCompositeChannels->port, &dest, &half, &small), 0);
        const FilterRect32 outside{0, 0, 4, 4};
        desc.data = merged.data();
        EXPECT_NE(ports->ReadPixelsFromLevel(r->documentInfo->mergedCompositeChannels->port, 0, &outside, &desc), 0);
        r->sSPBasic->ReleaseSuite(filterChannelPortsSuiteName, 2);
        return int16_t{0};
    };
    ASSERT_EQ(host.Run(&ScriptedPlugin, StandInHost::Sequence::Replay), 0);
    EXPECT_EQ(ids, (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(merged[0], 200);
    EXPECT_EQ(merged[11], 10);
    EXPECT_EQ(alpha[5], 255);
    EXPECT_EQ(alpha[6], 0);
    EXPECT_EQ(scaled[0], 200);
    EXPECT_EQ(scaled[2], 200);
    EXPECT_EQ(scaled[3], 10);
    // Only the deliberate read outside the document is a violation.
    EXPECT_EQ(host.Violations().size(), 1u);
    EXPECT_EQ(host.HeldSuites(), 0);
}

TEST_F(HostServices, ResolutionsBeyondFixedPointReachThePluginAsTheMost)
{
    // 40,000 dpi, as a JFIF density, a pHYs chunk and a PSD resolution
    // resource can name: more than 16.16 fixed point holds.
    const std::string folder = ::testing::TempDir() + "tessolo_resolution_" + std::to_string(::getpid());
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    HostDocument fine = SmallDoc();
    fine.resolution = 40000;
    for (const char* name : {"dense.png", "dense.jpg", "dense.psd"}) {
        SCOPED_TRACE(name);
        const std::string path = folder + "/" + name;
        std::string err;
        ASSERT_TRUE(WriteOutput(path, OutputKindOf(path), fine, kDefaultJpegQuality, err)) << err;
        HostDocument doc;
        InputFacts facts;
        ASSERT_TRUE(LoadInputDocument(path, doc, facts, err)) << err;
        ::unlink(path.c_str());
        EXPECT_NEAR(facts.resolution, 40000, 0.5);
        doc.resolution = facts.resolution;
        StandInHost host(std::move(doc), HostSettings{});
        FilterRecord seen{};
        StartScript() = [&](FilterRecord* r) {
            seen = *r;
            return int16_t{0};
        };
        ASSERT_EQ(host.Run(&ScriptedPlugin, StandInHost::Sequence::Replay), 0);
        EXPECT_EQ(seen.imageHRes, INT32_MAX);
        EXPECT_EQ(seen.imageVRes, INT32_MAX);
    }
    ::rmdir(folder.c_str());
}

TEST_F(HostServices, ParameterBlockDescribesTheDocument)
{
    HostSettings s;
    s.protectTransparency = true;
    HostDocument doc = SmallDoc(ColorMode::CMYK, true);
    doc.foreground[0] = 10;
    doc.foreground[1] = 20;
    doc.foreground[2] = 30;
    doc.resolution = 300;
    StandInHost host(std::move(doc), s);
    FilterRecord seen{};
    StartScript() = [&](FilterRecord* r) {
        seen = *r;
        return int16_t{0};
    };
    ASSERT_EQ(host.Run(&ScriptedPlugin, StandInHost::Sequence::Replay), 0);
    EXPECT_EQ(seen.imageMode, filterModeCMYK);
    EXPECT_EQ(seen.filterCase, filterCaseProtectedTransparencyNoSelection);
    EXPECT_EQ(seen.inTransparencyMask, 1);
    EXPECT_EQ(seen.outTransparencyMask, 0);
    EXPECT_EQ(seen.imageHRes, 300 * 65536);
    EXPECT_EQ(seen.filterRect.right, 6);
    EXPECT_EQ(seen.filterRect.bottom, 4);
    EXPECT_EQ(seen.foreColor[0], 10);
    EXPECT_EQ(seen.foreColor[3], 255);
    EXPECT_EQ(seen.backColor[0], 255);
}

}  // namespace
