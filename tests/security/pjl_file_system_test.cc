// Print jobs that use PJL's file system and PJL GSSET to reach other customers' files, run by
// GhostPCL and GhostXPS as our build makes them (scripts/patches/ghostpdl-pjl-no-file-system.patch).
// Their paths leave the PJL volume folder /tmp/pjl0 with "..": the unpatched parser checked only
// the prefix. The volume folder is made here first, as any local user can, since on Linux the
// commands need it to exist (Windows collapses ".." in a path by itself, folder or not).
// The interpreters' own refusal runs on Linux and, with the Windows interpreters, under Wine.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/system_files.h"
#include "service/service_process.h"
#include "support/corpus.h"
#include "support/service_folder.h"
#include "support/temp_dir.h"

namespace quillaro::testing {
namespace {

// GhostPDL's PJL_VOLUME_0 is "/tmp/pjl0" on both systems: on Windows on the drive of the
// interpreter's working folder; under Wine, which takes a path that starts with "/" for a Unix
// one, on drive Z:, the Linux root. The jobs' folders are made beside the test program (on
// Z: under Wine), so that their paths from that root reach them on either.
const fs::path kBeside = ToNarrow(GetModuleFolder());
const fs::path kPjlVolume = kBeside.root_path() / "tmp" / "pjl0";
const std::string kUel = "\x1b%-12345X";

// A shell command that makes the file `path`, written without blanks (PJL ends the value there).
std::string PipedCommand(const fs::path& path) {
#ifdef _WIN32
  return "|echo,piped>" + path.string();  // cmd.exe, which _popen runs, takes "," for a blank
#else
  return "|touch${IFS}" + path.string();
#endif
}

// Every file and folder under `root`, by its path relative to `root`: the file's bytes, or
// "<dir>" for a folder. Empty when `root` does not exist.
using Tree = std::map<std::string, std::string>;
Tree Snapshot(const fs::path& root) {
  Tree tree;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::end(it);
       it.increment(error)) {
    const std::string name = fs::relative(it->path(), root).string();
    tree[name] = it->is_directory() ? "<dir>" : ReadFileBytes(it->path());
  }
  return tree;
}

// A PJL file name for `target` that starts in the volume ("0:") and climbs out of it.
std::string Escape(const fs::path& target) {
  std::string name = "\"0:";
  for (int i = 0; i < 8; ++i) name += "\\..";  // more than /tmp/pjl0 has; ".." at / stays at /
  for (const auto& part : target.relative_path()) {
    name += '\\';
    name += part.string();
  }
  name += '"';
  return name;
}

// A PJL header that tries every file-system command and GSSETSTRING against a service folder
// `root` (with in/ and out/), then enters `language` with `body`.
std::string HostileJob(const fs::path& root, const std::string& language, const std::string& body) {
  const fs::path in = root / "in";
  const fs::path out = root / "out";
  // (no PJL of its own: the service would read its ENTER LANGUAGE as the header's)
  const std::string injected = "\x1b" "Einjected page\f";
  auto download = [](const std::string& command, const std::string& name, const std::string& data) {
    return "@PJL " + command + " FORMAT:BINARY NAME=" + name + " SIZE=" +
           std::to_string(data.size()) + "\r\n" + data;
  };
  return kUel + "@PJL JOB NAME=\"attack\"\r\n" +
         "@PJL FSINIT VOLUME=\"0:\"\r\n" +
         "@PJL FSMKDIR NAME=\"0:\\made_inside\"\r\n" +
         "@PJL FSMKDIR NAME=" + Escape(out / "made_dir") + "\r\n" +
         // a fake count and a fake marker for other jobs, a new job slipped into in/
         download("FSDOWNLOAD", Escape(out / "other_pagescount.txt"), "999") +
         download("FSDOWNLOAD", Escape(out / "waiting.pcl_done"), "done") +
         download("FSDOWNLOAD", Escape(in / "injected.pcl"), injected) +
         download("FSDOWNLOAD", "\"0:\\planted_inside.txt\"", "inside") +
         download("FSAPPEND", Escape(out / "other.pcl_done"), "appended") +
         // another customer's upload in progress, the settings
         "@PJL FSDELETE NAME=" + Escape(in / ".upload.pcl") + "\r\n" +
         "@PJL FSDELETE NAME=" + Escape(root / "settings.ini") + "\r\n" +
         "@PJL FSUPLOAD FORMAT:BINARY NAME=" + Escape(root / "settings.ini") +
         " OFFSET=0 SIZE=100\r\n" +
         "@PJL FSQUERY NAME=" + Escape(root / "settings.ini") + "\r\n" +
         "@PJL FSDIRLIST NAME=" + Escape(in) + " ENTRY=1 COUNT=99\r\n" +
         // the device's output into a shell command
         "@PJL GSSETSTRING OutputFile=" + PipedCommand(out / "piped") + "\r\n" +
         "@PJL ENTER LANGUAGE=" + language + "\r\n" + body + kUel;
}

// Another customer's files in a service folder `root`, which the hostile job aims at.
void LayOutVictims(const fs::path& root) {
  fs::create_directories(root / "in");
  fs::create_directories(root / "out");
  WriteFileBytes(root / "in" / ".upload.pcl", "\x1b" "Eanother customer's job\f");
  WriteFileBytes(root / "out" / "other.pcl_done", "done");
  WriteFileBytes(root / "out" / "other_pagescount.txt", "1");
}

// Makes the PJL volume folder for the test (and \tmp above it, which a Wine prefix lacks) and
// removes what it made.
class PjlVolume {
 public:
  PjlVolume() {
    for (fs::path folder = kPjlVolume; !fs::exists(folder); folder = folder.parent_path()) {
      made_ = folder;
    }
    fs::create_directories(kPjlVolume);
  }
  ~PjlVolume() {
    if (!made_.empty()) fs::remove_all(made_);
  }
  PjlVolume(const PjlVolume&) = delete;
  PjlVolume& operator=(const PjlVolume&) = delete;

 private:
  fs::path made_;  // the outermost folder made, if any
};

struct Case {
  const char* interpreter;
  const char* language;
  const char* body;  // corpus job whose pages follow the header
};
const Case kCases[] = {{"gpcl6", "PCL", "a4_3pages.pcl"}, {"gxps", "XPS", "a4_3pages.xps"}};

// The file name of the interpreter the case names, as the service finds it beside itself.
std::string ProgramFile(const Case& c) {
  return ToNarrow(c.interpreter == std::string("gpcl6") ? InterpreterFiles().pcl
                                                         : InterpreterFiles().xps);
}

// A shell command line that runs `program` with `arguments` in `folder`, with PCLFONTSOURCE set
// to `fonts`, its output into output.txt there.
std::string InterpreterCommand(const fs::path& folder, const std::string& fonts,
                               const fs::path& program, const std::string& arguments) {
#ifdef _WIN32
  // cmd /c takes off the first and the last quote of a line that has more than two.
  return "\"cd /d \"" + folder.string() + "\" && set \"PCLFONTSOURCE=" + fonts + "\" && \"" +
         program.string() + "\" " + arguments + " attack.prn >output.txt 2>&1\"";
#else
  return "cd '" + folder.string() + "' && PCLFONTSOURCE='" + fonts + "' '" + program.string() +
         "' " + arguments + " attack.prn >output.txt 2>&1";
#endif
}

// The interpreters themselves, run as the service runs them (its page count and its rendering,
// the latter with -dSAFER) but without the service's confinement: the refusal is theirs.
TEST(PjlFileSystemTest, InterpretersRefuseEveryFileCommandAndGsset) {
  const fs::path& beside = kBeside;
  PjlVolume volume;
  const Tree volume_before = Snapshot(kPjlVolume);
  for (const Case& c : kCases) {
    for (const bool render : {false, true}) {
      SCOPED_TRACE(std::string(c.interpreter) + (render ? " rendering" : " page count"));
      TempDir victim(beside);
      LayOutVictims(victim.path());
      WriteFileBytes(victim.path() / "settings.ini", "[Settings]\nIsConvert=1\n");
      const Tree before = Snapshot(victim.path());
      TempDir scratch(beside);
      const std::string job = ReadFileBytes(CorpusPath(c.body));
      ASSERT_FALSE(job.empty());
      WriteFileBytes(scratch.path() / "attack.prn", HostileJob(victim.path(), c.language, job));
      const std::string arguments =
          render ? "-dNOPAUSE -dBATCH -dSAFER -r100x100 -sDEVICE=ppmraw -sOutputFile=page_%d.ppm"
                 : "-dNOPAUSE -dBATCH -sDEVICE=bbox";
      const std::string command =
          InterpreterCommand(scratch.path(), PclFontSource((beside / "urwfonts").string()),
                             beside / ProgramFile(c), arguments);
      EXPECT_EQ(std::system(command.c_str()), 0) << ReadFileBytes(scratch.path() / "output.txt");
      // The job itself was read: its pages were counted or rendered, as without the header.
      if (render) {
        EXPECT_TRUE(fs::exists(scratch.path() / "page_3.ppm"));
      } else {
        const std::string output = ReadFileBytes(scratch.path() / "output.txt");
        int pages = 0;
        for (size_t at = 0; (at = output.find("%%HiResBoundingBox", at)) != std::string::npos; ++at)
          ++pages;
        EXPECT_EQ(pages, 3) << output;
      }
      EXPECT_EQ(Snapshot(victim.path()), before);
      EXPECT_EQ(Snapshot(kPjlVolume), volume_before);
      // Neither did the listing show the victim's files.
      EXPECT_EQ(ReadFileBytes(scratch.path() / "output.txt").find(".upload.pcl"), std::string::npos);
    }
  }
}

// The same jobs through the running service (page count, rendering, images), aimed at its own
// in/ and out/ and settings.ini: when their markers are written, nothing else has changed.
TEST(PjlFileSystemTest, HostileJobsThroughTheServiceChangeNothing) {
#ifdef _WIN32
  GTEST_SKIP() << "ServiceProcess starts and signals the service through a POSIX shell and "
                  "has no Windows side yet: under Wine only the interpreters' own refusal runs";
#endif
  PjlVolume volume;
  const Tree volume_before = Snapshot(kPjlVolume);
  const std::string settings = "IsConvert=1\nType=2\nImageType=0\nPagesMaxCount=10\n";
  ServiceProcess service(settings);
  LayOutVictims(service.root());
  ASSERT_TRUE(service.Start()) << service.Errors();
  auto watched = [&] {
    Tree tree;
    for (const char* folder : {"in", "out"}) {
      for (const auto& [name, bytes] : Snapshot(service.root() / folder)) {
        if (!name.starts_with("attack")) tree[std::string(folder) + "/" + name] = bytes;
      }
    }
    tree["settings.ini"] = ReadFileBytes(service.root() / "settings.ini");
    return tree;
  };
  const Tree before = watched();
  for (const Case& c : kCases) {
    const std::string job = ReadFileBytes(CorpusPath(c.body));
    ASSERT_FALSE(job.empty());
    const std::string name = std::string("attack_") + c.interpreter + ".prn";
    WriteFileBytes(service.root() / name, HostileJob(service.root(), c.language, job));
    fs::rename(service.root() / name, service.in() / name);
    ASSERT_TRUE(WaitForFile(service.out() / (name + "_done"), 120)) << service.Errors();
    // Its pages were counted and rendered: the header did not stop the job.
    EXPECT_EQ(ReadFileBytes(service.out() / ("attack_" + std::string(c.interpreter) + "_pagescount.txt")),
              "3");
  }
  Pause(2000);  // time enough for an injected job to be picked up
  EXPECT_EQ(watched(), before);
  EXPECT_EQ(Snapshot(kPjlVolume), volume_before);
  EXPECT_EQ(service.Stop(), 0);
}

}  // namespace
}  // namespace quillaro::testing
