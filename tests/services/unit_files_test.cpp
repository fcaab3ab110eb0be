// Unit file texts, specifiers and the search for a service's description.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "fixture_tree.h"
#include "unit_files.h"

namespace lystrel::layer {
namespace {

struct DescriptionCase {
    const char* what;
    std::string text;
    std::optional<std::string> description;
};

TEST(ParseUnitDescription, ReadsTheUnitSection) {
    const DescriptionCase cases[] = {
        {"plain", "[Unit]\nDescription=OpenBSD Secure Shell server\n", "OpenBSD Secure Shell server"},
        {"whitespace around key and value", "[Unit]\n  Description =  Spaced out \t\n", "Spaced out"},
        {"last one wins", "[Unit]\nDescription=First\nDescription=Second\n", "Second"},
        {"empty resets", "[Unit]\nDescription=First\nDescription=\n", ""},
        {"none", "[Unit]\nAfter=network.target\n", std::nullopt},
        {"other sections ignored", "[Service]\nDescription=Wrong\n[Unit]\nAfter=x\n", std::nullopt},
        {"back in another section", "[Unit]\nDescription=Right\n[Service]\nDescription=Wrong\n", "Right"},
        {"comments", "[Unit]\n# Description=Hash\n; Description=Semicolon\nDescription=Real\n", "Real"},
        {"continuation", "[Unit]\nDescription=Two \\\nlines\n", "Two  lines"},
        {"comment inside continuation", "[Unit]\nDescription=A\\\n#skipped\nB\n", "A B"},
        {"escaped backslash does not continue", "[Unit]\nDescription=Ends in \\\\\nAfter=x\n", "Ends in \\\\"},
        {"continuation at end of file", "[Unit]\nDescription=Cut\\", "Cut"},
        {"byte order mark", "\xEF\xBB\xBF[Unit]\nDescription=Marked\n", "Marked"},
        {"CR LF lines", "[Unit]\r\nDescription=Windows edited\r\n", "Windows edited"},
        {"key is case sensitive", "[Unit]\ndescription=lower\n", std::nullopt},
        {"no section", "Description=Orphan\n", std::nullopt},
        {"value with equals", "[Unit]\nDescription=a=b\n", "a=b"},
        {"control bytes kept for later escaping", "[Unit]\nDescription=bell\x07here\n", "bell\x07here"},
        {"empty text", "", std::nullopt},
        {"truncated", "[Un", std::nullopt},
    };
    for (const DescriptionCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ParseUnitDescription(c.text), c.description);
    }
}

TEST(ExpandUnitSpecifiers, ExpandsNameSpecifiers) {
    struct Case {
        const char* text;
        const char* unit;
        const char* expanded;
    };
    const Case cases[] = {
        {"Getty on %I", "getty@tty1.service", "Getty on tty1"},
        {"%n|%N|%p|%i", "getty@tty1.service", "getty@tty1.service|getty@tty1|getty|tty1"},
        {"File System Check on %f", "systemd-fsck@dev-disk-by\\x2duuid-12.service",
         "File System Check on /dev/disk/by-uuid/12"},
        {"%i / %I", "a@x-y.service", "x-y / x/y"},
        {"%P", "foo-bar.service", "foo/bar"},
        {"100%% sure, %H kept, trailing %", "a.service", "100% sure, %H kept, trailing %"},
        {"no instance: [%i]", "ssh.service", "no instance: []"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ExpandUnitSpecifiers(c.text, c.unit), c.expanded);
    }
}

TEST(ReadUnitDescription, FollowsSearchOrderTemplatesAndDropIns) {
    testing::FixtureTree tree;
    // The same unit in two directories: /etc wins over /lib.
    tree.Write("/lib/systemd/system/ssh.service", "[Unit]\nDescription=Packaged\n");
    tree.Write("/etc/systemd/system/ssh.service", "[Unit]\nDescription=Local\n");
    // A template and one of its instances.
    tree.Write("/usr/lib/systemd/system/getty@.service", "[Unit]\nDescription=Getty on %I\n");
    // Drop-ins from two directories and for the template, applied by file name.
    tree.Write("/usr/lib/systemd/system/web.service", "[Unit]\nDescription=Base\n");
    tree.Write("/usr/lib/systemd/system/web.service.d/20-late.conf", "[Unit]\nDescription=Twenty\n");
    tree.Write("/etc/systemd/system/web.service.d/10-early.conf", "[Unit]\nDescription=Ten\n");
    tree.Write("/etc/systemd/system/web.service.d/15-other.conf", "[Service]\nUser=x\n");
    tree.Write("/etc/systemd/system/web.service.d/not-a-dropin.txt", "[Unit]\nDescription=Ignored\n");
    // A drop-in in /etc hides the packaged one of the same name.
    tree.Write("/usr/lib/systemd/system/hidden.service", "[Unit]\nDescription=Base\n");
    tree.Write("/usr/lib/systemd/system/hidden.service.d/override.conf", "[Unit]\nDescription=Packaged\n");
    tree.Write("/etc/systemd/system/hidden.service.d/override.conf", "[Unit]\nAfter=x\n");
    tree.Write("/usr/lib/systemd/system/worker@.service", "[Unit]\nDescription=Worker %i\n");
    tree.Write("/usr/lib/systemd/system/worker@.service.d/a.conf", "[Unit]\nDescription=Template drop-in %i\n");
    tree.Write("/etc/systemd/system/worker@2.service.d/b.conf", "[Unit]\nDescription=Instance drop-in %i\n");
    // An empty Description= in a drop-in resets the unit's.
    tree.Write("/usr/lib/systemd/system/reset.service", "[Unit]\nDescription=Gone\n");
    tree.Write("/run/systemd/system/reset.service.d/x.conf", "[Unit]\nDescription=\n");
    // An alias linking to the real file, absolute within the root, and a
    // relative one; a masked unit.
    tree.Write("/lib/systemd/system/real.service", "[Unit]\nDescription=Real unit\n");
    tree.Link("/etc/systemd/system/alias.service", "/lib/systemd/system/real.service");
    tree.Link("/etc/systemd/system/relative.service", "../../../lib/systemd/system/real.service");
    tree.Write("/lib/systemd/system/masked.service", "[Unit]\nDescription=Masked\n");
    tree.Link("/etc/systemd/system/masked.service", "/dev/null");
    tree.Link("/etc/systemd/system/loop.service", "/etc/systemd/system/loop.service");
    tree.Use();

    const struct {
        const char* unit;
        std::optional<std::string> description;
    } cases[] = {
        {"ssh.service", "Local"},
        {"getty@tty1.service", "Getty on tty1"},
        {"web.service", "Twenty"},
        {"hidden.service", "Base"},
        {"worker@1.service", "Template drop-in 1"},
        {"worker@2.service", "Instance drop-in 2"},
        {"reset.service", std::nullopt},
        {"alias.service", "Real unit"},
        {"relative.service", "Real unit"},
        {"masked.service", std::nullopt},
        {"loop.service", std::nullopt},
        {"missing.service", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.unit);
        EXPECT_EQ(ReadUnitDescription(c.unit), c.description);
    }
}

}  // namespace
}  // namespace lystrel::layer
