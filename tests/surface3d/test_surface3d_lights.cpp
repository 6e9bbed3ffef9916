// Light lists of both generations, the second generation's ambient block and
// precalculation, and the first generation's change flags.
#include "S3DTestScenes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

CQNF_3D_Surface2::LIGHT_SOURCE Light2(const char* name)
{
    CQNF_3D_Surface2::LIGHT_SOURCE l{};
    l.name = const_cast<char*>(name);
    return l;
}

CQNF_3D_Surface::LIGHT_SOURCE Light1(const char* name)
{
    CQNF_3D_Surface::LIGHT_SOURCE l{};
    l.name = const_cast<char*>(name);
    return l;
}

char* C(const std::string& s) { return const_cast<char*>(s.c_str()); }

}  // namespace

template <class S>
class SurfaceLightList : public ::testing::Test {
protected:
    typename S::LIGHT_SOURCE Make(const char* name)
    {
        typename S::LIGHT_SOURCE l{};
        l.name = const_cast<char*>(name);
        return l;
    }
};
using Generations = ::testing::Types<CQNF_3D_Surface2, CQNF_3D_Surface>;
TYPED_TEST_SUITE(SurfaceLightList, Generations);

TYPED_TEST(SurfaceLightList, NamesAreComparedWholeNotAsPrefixes)
{
    TypeParam s;
    auto a = this->Make("Key2"), b = this->Make("Key");
    ASSERT_EQ(s.Light_Add(&a), 1);
    ASSERT_EQ(s.Light_Add(&b), 1);
    EXPECT_EQ(s.int_Light_GetIDByName(C("Key")), 1);
    ASSERT_EQ(s.Light_Delete(C("Key")), 1);
    ASSERT_EQ(s.Light_Count(), 1u);
    char buf[8];
    ASSERT_EQ(s.Light_GetName(0, buf, sizeof buf), 1);
    EXPECT_STREQ(buf, "Key2");
    EXPECT_EQ(s.Light_Delete(C("Nope")), 0);
    EXPECT_EQ(s.GetError(), 0);
}

TYPED_TEST(SurfaceLightList, LongNamesAreStoredAs49CharactersAndFoundAgain)
{
    TypeParam s;
    const std::string longName(60, 'L');
    auto l = this->Make(longName.c_str());
    ASSERT_EQ(s.Light_Add(&l), 1);
    EXPECT_EQ(s.int_Light_GetIDByName(C(longName)), 0);
    EXPECT_EQ(s.int_Light_GetIDByName(C(std::string(49, 'L'))), 0);
    EXPECT_EQ(s.int_Light_GetIDByName(C(std::string(48, 'L'))), -1);
    char buf[80];
    ASSERT_EQ(s.Light_GetName(0, buf, sizeof buf), 1);
    EXPECT_EQ(std::strlen(buf), 49u);
}

TYPED_TEST(SurfaceLightList, GetNameTruncatesAndAlwaysTerminates)
{
    TypeParam s;
    auto l = this->Make("Spot");
    ASSERT_EQ(s.Light_Add(&l), 1);
    char buf[8];
    std::memset(buf, 'x', sizeof buf);
    ASSERT_EQ(s.Light_GetName(0, buf, 4), 1);
    EXPECT_STREQ(buf, "Spo");
    EXPECT_EQ(buf[4], 'x');  // nothing beyond size written
    EXPECT_EQ(s.Light_GetName(0, buf, 0), 0);
    EXPECT_EQ(buf[0], 'S');
    EXPECT_EQ(s.Light_GetName(1, buf, 8), 0);
    EXPECT_EQ(s.Light_GetName(0, nullptr, 8), 0);
}

TYPED_TEST(SurfaceLightList, GetDataHandsBackTheSurfacesOwnName)
{
    TypeParam s;
    auto* name = new std::string("Sun");
    auto l = this->Make(name->c_str());
    ASSERT_EQ(s.Light_Add(&l), 1);
    delete name;  // the caller's string is gone
    auto q = this->Make("Sun");
    ASSERT_EQ(s.Light_GetData(&q), 1);
    EXPECT_STREQ(q.name, "Sun");
    auto missing = this->Make("Moon");
    EXPECT_EQ(s.Light_GetData(&missing), 0);
    EXPECT_EQ(s.Light_Change(&missing), 0);
    EXPECT_EQ(s.Light_Add(nullptr), 0);
    EXPECT_EQ(s.GetError(), qnerr::BadArgument);
}

TYPED_TEST(SurfaceLightList, ShadowMapStorageBelongsToTheLight)
{
    TypeParam s;
    auto a = this->Make("A"), b = this->Make("B");
    s.Light_Add(&a);
    s.Light_Add(&b);
    EXPECT_EQ(s.Light_GetShadowMap(C("A")), nullptr);
    ASSERT_EQ(s.Light_CreateShadowMapStorage(C("A"), 16, 8), 1);
    unsigned char* map = s.Light_GetShadowMap(C("A"));
    ASSERT_NE(map, nullptr);
    std::memset(map, 7, 16 * 8);  // all of it is writable
    EXPECT_EQ(s.int_Light_Get(0)->shadowMapWidth, 16u);
    EXPECT_EQ(s.Light_CreateShadowMapStorage(C("Z"), 16, 8), 0);
    // More than a 32-bit block can describe: refused with the memory error.
    EXPECT_EQ(s.Light_CreateShadowMapStorage(C("B"), 0x10000ul, 0x10001ul), 0);
    EXPECT_EQ(s.GetError(), qnerr::NoMemory);
    EXPECT_EQ(s.Light_Delete(C("A")), 1);
    EXPECT_EQ(s.Light_GetShadowMap(C("A")), nullptr);
    ASSERT_EQ(s.Light_CreateShadowMapStorage(C("B"), 4, 4), 1);
    EXPECT_EQ(s.Light_KillAll(), 1);
    EXPECT_EQ(s.Light_Count(), 0u);
    // Lights left in the list are released with the surface (LeakSanitizer).
    s.Light_Add(&b);
    s.Light_CreateShadowMapStorage(C("B"), 32, 32);
}

TEST(Surface2Lights, ChangeKeepsNameAndPrecalculatedValuesUntilPrecalculation)
{
    CQNF_3D_Surface2 s;
    auto l = Light2("Sun");
    l.x = 1;
    l.y = 2;
    l.z = 3;
    l.zKept = 1;
    l.gloss = 10;
    ASSERT_EQ(s.Light_Add(&l), 1);
    ASSERT_EQ(s.Light_PrecalculateLights(1), 1);
    const auto* rec = s.int_Light_Get(0);
    EXPECT_EQ(rec->lightVector.x, -1.0f);
    EXPECT_EQ(rec->lightVector.y, 2.0f);
    EXPECT_EQ(rec->lightVector.z, 3.0f);
    EXPECT_EQ(rec->specularExponent, 10.0f * 10.0f * 10.0f * 250.0f / 1000000.0f + 1.0f);
    l.zKept = 0;
    ASSERT_EQ(s.Light_Change(&l), 1);
    EXPECT_EQ(rec->lightVector.z, 3.0f);
    ASSERT_EQ(s.Light_PrecalculateLights(7), 1);
    EXPECT_EQ(rec->lightVector.z, -3.0f);
    EXPECT_STREQ(rec->name, "Sun");
}

TEST(Surface2Lights, PrecalculationPerChannelMode)
{
    CQNF_3D_Surface2 s;
    auto l = Light2("L");
    const uint8_t diffuse[8] = {9, 10, 20, 30, 40, 50, 60, 70};
    const uint8_t specular[8] = {200, 1, 2, 3, 4, 5, 6, 7};
    std::memcpy(l.diffuseColour, diffuse, 8);
    std::memcpy(l.specularColour, specular, 8);
    l.diffuseOpacity = 100;
    l.specularOpacity = 50;
    ASSERT_EQ(s.Light_Add(&l), 1);
    const uint8_t hi[8] = {255, 255, 128, 0, 1, 2, 3, 4};
    const uint8_t lo[8] = {0, 51, 102, 153, 204, 255, 0, 0};
    ASSERT_EQ(s.Light_SetAmbientLight(const_cast<uint8_t*>(hi), 100, const_cast<uint8_t*>(lo), 40, 0, 0), 1);
    const auto* rec = s.int_Light_Get(0);

    ASSERT_EQ(s.Light_PrecalculateLights(1), 1);
    EXPECT_EQ(rec->diffuseFactor[0], 10.0f / 255.0f);
    EXPECT_EQ(rec->diffuseFactor[1], 20.0f / 255.0f);
    EXPECT_EQ(rec->diffuseFactor[2], 30.0f / 255.0f);
    EXPECT_EQ(rec->diffuseFactor[3], 10.0f / 255.0f);
    EXPECT_EQ(rec->specularFactor[0], 1.0f * 50.0f / 25500.0f);
    const auto& amb = s.GetAmbientBlock();
    EXPECT_EQ(amb.highlightFactor[1], 128.0f * 100.0f / 25500.0f);
    EXPECT_EQ(amb.shadowFactor[2], 153.0f * 40.0f / 25500.0f);
    EXPECT_EQ(amb.shadowFactor[3], amb.shadowFactor[0]);

    ASSERT_EQ(s.Light_PrecalculateLights(0), 1);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(rec->diffuseFactor[k], 9.0f * 100.0f / 25500.0f);
        EXPECT_EQ(rec->specularFactor[k], 200.0f * 50.0f / 25500.0f);
        EXPECT_EQ(amb.highlightFactor[k], 1.0f);
    }
    ASSERT_EQ(s.Light_PrecalculateLights(2), 1);
    EXPECT_EQ(rec->diffuseFactor[3], 70.0f * 100.0f / 25500.0f);
    EXPECT_EQ(amb.highlightFactor[0], 1.0f * 100.0f / 25500.0f);
    // Another mode moves only exponents and light vectors.
    ASSERT_EQ(s.Light_PrecalculateLights(3), 1);
    EXPECT_EQ(rec->diffuseFactor[3], 70.0f * 100.0f / 25500.0f);
    EXPECT_EQ(amb.highlightFactor[0], 1.0f * 100.0f / 25500.0f);
}

TEST(Surface2Lights, AmbientManualAndAutomatic)
{
    CQNF_3D_Surface2 s;
    uint8_t hi[8] = {1, 2, 3, 4, 5, 6, 7, 8}, lo[8] = {8, 7, 6, 5, 4, 3, 2, 1};
    ASSERT_EQ(s.Light_SetAmbientLight(hi, 12.5f, lo, -3.0f, 0, 0), 1);
    EXPECT_EQ(std::memcmp(s.GetAmbientBlock().highlightColour, hi, 8), 0);
    EXPECT_EQ(s.GetAmbientBlock().highlightOpacity, 12.5f);
    EXPECT_EQ(std::memcmp(s.GetAmbientBlock().shadowColour, lo, 8), 0);
    EXPECT_EQ(s.GetAmbientBlock().shadowOpacity, -3.0f);

    auto l = Light2("Top");
    l.z = 1;
    l.zKept = 1;
    l.diffuseOpacity = 100;
    l.diffuseInHighlight = 1;
    ASSERT_EQ(s.Light_Add(&l), 1);
    ASSERT_EQ(s.Light_SetAmbientLight(nullptr, 0, lo, 9, 1, 0), 1);
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(s.GetAmbientBlock().highlightColour[k], 255);
    EXPECT_EQ(s.GetAmbientBlock().highlightOpacity, 0.0f);
    EXPECT_EQ(s.GetAmbientBlock().shadowOpacity, 9.0f);

    // A light from below (z negated on use) gives the shadow pass its light;
    // two full lights make the automatic opacity negative, unclamped.
    auto under = Light2("Under");
    under.z = 1;
    under.zKept = 0;
    under.diffuseOpacity = 100;
    under.diffuseInShadow = 1;
    under.specularOpacity = 50;
    under.specularInHighlight = 1;
    ASSERT_EQ(s.Light_Add(&under), 1);
    auto side = Light2("Side");
    side.z = 0.5f;
    side.zKept = 1;
    side.diffuseOpacity = 300;
    side.diffuseInHighlight = 1;
    ASSERT_EQ(s.Light_Add(&side), 1);
    ASSERT_EQ(s.Light_SetAmbientLight(nullptr, 0, nullptr, 0, 1, 1), 1);
    // highlight: 1 (Top) + 0 (Under: t = 0, 0^1 x 0.5) + 1.5 (Side) = 2.5
    EXPECT_EQ(s.GetAmbientBlock().highlightOpacity, (1.0f - 2.5f) * 100.0f);
    // shadow: Under's diffuse (-1 x 1) is clamped to 0
    EXPECT_EQ(s.GetAmbientBlock().shadowOpacity, 100.0f);
    EXPECT_EQ(s.Light_SetAmbientLight(nullptr, 0, lo, 0, 0, 0), 0);
    EXPECT_EQ(s.GetError(), qnerr::BadArgument);
}

TEST(Surface1Lights, AddConvertsAndSetsChangeFlags)
{
    CQNF_3D_Surface s;
    auto l = Light1("Key");
    l.colourScale = 2;
    l.colour[0] = 10;
    l.colour[3] = 100;
    l.colourPercentage = 50;
    l.useShadowMap = 1;
    l.enabled = 1;
    l.flag2 = 9;
    ASSERT_EQ(s.Light_Add(&l), 1);
    const auto* rec = s.int_Light_Get(0);
    EXPECT_EQ(rec->effectiveColour[0], 10.0f);
    EXPECT_EQ(rec->effectiveColour[3], 100.0f);
    EXPECT_EQ(rec->useShadowMap, 0);  // the caller's switch is not taken on adding
    EXPECT_EQ(s.Light_GetChangedFlag(C("Key")), 1);
    EXPECT_EQ(s.Light_GetBgChangedFlag(C("Key")), 1);
    EXPECT_EQ(s.Light_CheckAllLightsChanges(), 0);  // no map in use yet
    ASSERT_EQ(s.Light_CreateShadowMapStorage(C("Key"), 4, 4), 1);
    EXPECT_EQ(rec->useShadowMap, 1);
    EXPECT_EQ(s.Light_CheckAllLightsChanges(), 1);
    EXPECT_EQ(s.Light_CheckAllLightsBgShadowChanges(), 0);  // no background shadow asked
    auto back = Light1("Key");
    ASSERT_EQ(s.Light_GetData(&back), 1);
    EXPECT_EQ(back.flag2, 9);
    EXPECT_EQ(back.colourScale, 2.0f);
    EXPECT_EQ(back.useShadowMap, 1);
    EXPECT_EQ(s.Light_GetChangedFlag(C("None")), 0);
    EXPECT_EQ(s.Light_Enable(C("None"), 1), 0);
    ASSERT_EQ(s.Light_SetAmbientLight(1, 2, 3, 4), 1);
    EXPECT_EQ(s.GetAmbientLight()[3], 4.0f);
}

TEST(Surface1Lights, ChangeSetsFlagsOnlyForWhatMoved)
{
    CQNF_3D_Surface s;
    auto l = Light1("K");
    l.x = 1;
    l.smNearRadius = 1;
    l.bgFarRadius = 2;
    ASSERT_EQ(s.Light_Add(&l), 1);
    auto reset = [&] {
        s.Light_SetChangedFlag(C("K"), 0);
        s.Light_SetBgChangedFlag(C("K"), 0);
    };

    reset();
    auto same = l;
    same.colourScale = 5;  // colour only: no shadow needs making again
    ASSERT_EQ(s.Light_Change(&same), 1);
    EXPECT_EQ(s.Light_GetChangedFlag(C("K")), 0);
    EXPECT_EQ(s.Light_GetBgChangedFlag(C("K")), 0);

    reset();
    auto bg = same;
    bg.bgLevel = 2;
    ASSERT_EQ(s.Light_Change(&bg), 1);
    EXPECT_EQ(s.Light_GetChangedFlag(C("K")), 0);
    EXPECT_EQ(s.Light_GetBgChangedFlag(C("K")), 1);

    reset();
    auto sm = bg;
    sm.smBlurMode = 1;
    ASSERT_EQ(s.Light_Change(&sm), 1);
    EXPECT_EQ(s.Light_GetChangedFlag(C("K")), 1);
    EXPECT_EQ(s.Light_GetBgChangedFlag(C("K")), 0);

    reset();
    auto dir = sm;
    dir.z = 4;
    ASSERT_EQ(s.Light_Change(&dir), 1);
    EXPECT_EQ(s.Light_GetChangedFlag(C("K")), 1);
    EXPECT_EQ(s.Light_GetBgChangedFlag(C("K")), 1);

    // With the map already marked changed, neither flag is touched.
    s.Light_SetBgChangedFlag(C("K"), 0);
    auto later = dir;
    later.bgFarRadius = 9;
    ASSERT_EQ(s.Light_Change(&later), 1);
    EXPECT_EQ(s.Light_GetBgChangedFlag(C("K")), 0);
    // Change takes the caller's shadow-map switch.
    later.useShadowMap = 1;
    later.bgShadow = 1;
    ASSERT_EQ(s.Light_Change(&later), 1);
    EXPECT_EQ(s.int_Light_Get(0)->useShadowMap, 1);
    s.Light_SetBgChangedFlag(C("K"), 1);
    EXPECT_EQ(s.Light_CheckAllLightsBgShadowChanges(), 1);
    EXPECT_EQ(s.Light_UseShadowMap(C("K"), 0), 1);
    EXPECT_EQ(s.Light_CheckAllLightsChanges(), 0);
}
