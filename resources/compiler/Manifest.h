// The text manifest the resource file is compiled from, and its parser.
//
// One statement a line; "#" starts a comment; rectangles are X,Y,W,H in
// window coordinates; words in quotes are texts; key=value pairs are options;
// other bare words are flags.
//
//   include FILE                     another manifest, relative to this one
//   font "NAME" FILE PX [FIRST..LAST]
//   window NAME WxH "Title"          ... up to "end"
//     label X,Y "text" [dim|bold|accent] [w=N align=right]   painted into the background
//     group X,Y,W,H ["title"]        an inset panel painted into the background
//     sep X,Y,W                      a separator line
//     rect NAME X,Y,W,H [inset|disc] a named rectangle (inset: also painted;
//                                    disc: the bevel's light disc painted over it)
//     button NAME X,Y,W,H ["text"] [icon=I] [style=push|accent|icon|close|menu|arrow|tool|hidden]
//                                    [stacked: shares its place; no Disabled picture]
//     check NAME X,Y,W,H "text" [style=box|toggle] [icon=I]
//     radio NAME X,Y,W,H "text" group=G [style=dot|toggle|seg] [icon=I]
//     slider NAME X,Y,W,H A..B [dial] ["text" caption=X,Y: a caption drawn with the slider, hidden with it]
//     edit | list | stext | progress NAME X,Y,W,H
//     scroll NAME X,Y,W,H v|h
//     ruler NAME X,Y,W,H h|v
//     image NAME X,Y,W,H STYLE [options]
//   template NAME ... end            lines with $P; "use NAME P=VALUE" copies them
//   accel COMMAND KEYS "label"       KEYS like Cmd+Shift+S, Cmd+Opt+0, Ctrl+F5
//   help "title" "url" | help ---
//   shape "name" U,H,S U,H,S ...
//   expect FILE                      the list of records the code asks for
#pragma once

#include "resources/compiler/Records.h"

#include <map>
#include <string>
#include <vector>

namespace rc {

enum class Kind { Button, Check, Radio, Slider, Edit, List, Scroll, SText, Image, Progress, Ruler };
const char* KindWord(Kind k);
// The resource folder under "UIResources>" that holds a kind's records.
const char* KindFolder(Kind k);

struct Where {
    std::string file;
    int line = 0;
    std::string Tell() const { return file + ":" + std::to_string(line); }
};

struct Box {
    int x = 0, y = 0, w = 0, h = 0;
    int Right() const { return x + w; }
    int Bottom() const { return y + h; }
};

struct Item {
    std::string word;  // statement word ("button", "label", ...)
    std::string name;
    Box box;
    std::string text;
    std::map<std::string, std::string> opts;  // key=value pairs and flags (value "1")
    Where where;

    bool Flag(const char* f) const { return opts.count(f) != 0; }
    std::string Opt(const char* key, const char* fallback = "") const
    {
        auto it = opts.find(key);
        return it == opts.end() ? fallback : it->second;
    }
};

struct Control : Item {
    Kind kind = Kind::Button;
    int group = 0;
    long long vmin = 0, vmax = 0;
    bool vertical = false;
    Box caption;  // a slider's caption line ("caption=X,Y" and its text): top-left; h 0 for none
};

struct Window {
    std::string name;
    int width = 0, height = 0;
    std::string title;
    std::vector<Item> decor;  // labels, groups, separators, painted rects
    std::vector<Item> rects;
    std::vector<Control> controls;
    Where where;
};

struct FontDef {
    std::string name, file;
    unsigned px = 11;
    int first = 32, last = 255;
    Where where;
};

struct Expected {
    std::string word, name;  // word: a control kind, "window", "font" or "rect"
    Where where;
};

struct Manifest {
    std::vector<FontDef> fonts;
    std::vector<Window> windows;
    std::vector<Shortcut> shortcuts;
    std::vector<Where> shortcutWhere;
    std::vector<HelpEntry> help;
    std::vector<Shape> shapes;
    std::vector<Expected> expected;
    std::string iconDir;  // where icon=NAME finds NAME.svg
    std::vector<std::string> files;  // every file read: the manifest, its includes, its expected lists
};

// Reads the manifest and its includes; throws Error naming file and line.
Manifest ParseManifest(const std::string& path);
// The same from text (tests); includes resolve against dir.
Manifest ParseManifestText(const std::string& text, const std::string& name, const std::string& dir);

}  // namespace rc
