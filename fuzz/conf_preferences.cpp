// "plugin.conf" values as the preferences, the main window and the knife
// editor read them: a configuration of records under their keys, of any type
// and size the input picks, then every reader on it. What a reader takes must
// be usable, and what it then writes must read back the same.
#include "fuzz/FuzzInput.h"
#include "app/Preferences.h"
#include "core/StdFile.h"
#include "core/Storage.h"
#include "core/StorageFormat.h"
#include "cutter/CutterModel.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

const char* const kKeys[] = {
    "Preferences>OnLoadZoom",      "Preferences>DelKnifeOpacity",   "Preferences>AlphaSolid",
    "Preferences>ExtAlphaSolid",   "Preferences>AlphaColor1",       "Preferences>AlphaColor2",
    "Preferences>AlphaColorSolid", "Preferences>ExtAlphaColor1",    "Preferences>ExtAlphaColor2",
    "Preferences>ExtAlphaColorSolid", "LastShape>NodesCount",       "Cutter>LinkRC",
};

// A configuration on an anonymous file; its path stays valid while fd is open.
struct Conf {
    int fd = ::memfd_create("conf_fuzz", 0);
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    ~Conf()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// A container on the caller's file: a configuration is written in place.
bool OpenOn(CQNF_StdFile& file, const std::string& path, CQNF_Storage& st, unsigned short mode)
{
    return file.Open(CQNF_String(path.c_str()), qnfile::kUpdate) && st.Open(&file, mode);
}

void PutRecord(CQNF_Storage& st, const std::string& key, FuzzInput& in)
{
    switch (in.Byte() % 6) {
    case 0: st.SetRecord(CQNF_String(key.c_str()), in.Byte()); break;
    case 1: {
        uint16_t v = 0;
        in.Bytes(&v, 2);
        st.SetRecord(CQNF_String(key.c_str()), v);
        break;
    }
    case 2: {
        uint32_t v = 0;
        in.Bytes(&v, 4);
        st.SetRecord(CQNF_String(key.c_str()), v);
        break;
    }
    case 3: {
        double v = 0;
        in.Bytes(&v, 8);
        st.SetRecord(CQNF_String(key.c_str()), v);
        break;
    }
    default: {
        unsigned char bytes[16] = {};
        const uint32_t n = in.Bytes(bytes, in.Byte() % 9);
        st.SetRecord(CQNF_String(key.c_str()), bytes, n);
        break;
    }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Conf conf;
    if (conf.fd < 0)
        return 0;
    FuzzInput in(data, size);
    {
        CQNF_StdFile file;
        CQNF_Storage st;
        if (!OpenOn(file, conf.path, st, 2))
            return 0;
        for (const char* folder : {"Preferences", "LastShape", "Cutter"})
            st.AddFolder(CQNF_String(folder));
        while (in.More()) {
            const uint8_t pick = in.Byte();
            const uint32_t keys = sizeof kKeys / sizeof kKeys[0];
            char knot[32];
            std::snprintf(knot, sizeof knot, "LastShape>%c%u", "HUS"[pick % 3], (pick / 3) % 70);
            PutRecord(st, pick < 128 ? std::string(kKeys[pick % keys]) : std::string(knot), in);
        }
        st.Close();
    }
    CQNF_StdFile file;
    CQNF_Storage st;
    if (!OpenOn(file, conf.path, st, 1))
        return 0;

    CPreferences prefs;
    prefs.settings_Load(&st);
    CWnd_CutterModel cutter;
    cutter.settings_LoadLastKnife(&st);
    cutter.settings_LoadCutterOptions(&st);
    // The knife taken is one the editor can use.
    if (!qnShapeIsSound(cutter.m_Shape))
        __builtin_trap();

    // Written again, what was taken reads back the same.
    Conf again;
    CQNF_StdFile outFile;
    CQNF_Storage out;
    if (again.fd < 0 || !OpenOn(outFile, again.path, out, 2))
        return 0;
    if (!prefs.settings_Save(&out) || !cutter.settings_SaveLastKnife(&out))
        __builtin_trap();
    CPreferences back;
    back.onLoadZoom = uint8_t(prefs.onLoadZoom + 1);
    back.settings_Load(&out);
    CWnd_CutterModel knife;
    knife.settings_LoadLastKnife(&out);
    if (!(back == prefs) || !qnSameShapeValues(knife.m_Shape, cutter.m_Shape))
        __builtin_trap();
    return 0;
}
