#include "tools/rebound-sim/frame_pictures.h"

#include <filesystem>
#include <iostream>
#include <memory>
#include <system_error>
#include <vector>

#include "sim/base/number_format.h"
#include "sim/host/simulation.h"
#include "tools/rebound-sim/output_file.h"

namespace rebound_sim {

bool PrepareFramePictureFolder(const std::string& dir, bool* made) {
  std::error_code ec;
  const std::filesystem::path folder = PathFromUtf8(dir);
  const bool there = std::filesystem::exists(folder, ec);
  if (made != nullptr) *made = !there;
  if (there && !std::filesystem::is_directory(folder, ec)) {
    std::cerr << "rebound-sim: cannot write the frame pictures to " << dir << ": "
              << std::make_error_code(std::errc::not_a_directory).message() << "\n";
    return false;
  }
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    std::cerr << "rebound-sim: cannot write the frame pictures to " << dir << ": " << ec.message()
              << "\n";
    return false;
  }
  return true;
}

std::optional<std::string> WriteFramePicture(const sim::World& world, const std::string& dir,
                                             std::int64_t frame, bool debug, const char* what) {
  const std::string path = Utf8FromPath(PathFromUtf8(dir) / sim::SvgFileName(frame));
  std::unique_ptr<OutputFile> out = OpenOutput(what, path);
  if (!out) return std::nullopt;
  sim::WriteWorldFrameSvg(out->Stream(), world, frame, debug);
  if (!CommitOutput(*out)) return std::nullopt;
  return path;
}

bool WriteFramePictures(const sim::Simulation& simulation, const std::string& dir,
                        const std::optional<sim::FramePick>& chosen, bool debug,
                        std::FILE* console) {
  const sim::FramePick pick = chosen ? *chosen : sim::DefaultFramePick();
  const sim::World& world = simulation.GetWorld();
  const std::int64_t framesRun = simulation.FramesRun();
  const std::vector<std::int64_t> frames = sim::PickedFrames(pick, framesRun, world.drawing);
  for (std::int64_t frame : frames) {
    if (!WriteFramePicture(world, dir, frame, debug, "frame picture")) return false;
  }
  std::size_t pastTheEnd = 0;
  for (std::int64_t frame : pick.listed) pastTheEnd += frame >= framesRun ? 1 : 0;
  if (pastTheEnd > 0) {
    std::cerr << "rebound-sim: --svg-frames: " << pastTheEnd << " of the frames listed "
              << (pastTheEnd == 1 ? "is" : "are") << " past the run's last frame (" << framesRun - 1
              << "): not pictured\n";
  }
  if (frames.empty()) {
    std::cerr << "rebound-sim: no frame pictures written to " << dir << ": "
              << (pick.drawn ? "nothing was drawn in the " + std::to_string(framesRun) +
                                   " frames of the run (--svg-frames drawn)"
                             : std::string("the run has no frame that --svg-frames names"))
              << "\n";
  } else if (console != nullptr) {
    std::fprintf(
        console, "%s written to %s\n",
        sim::CountOf(static_cast<long long>(frames.size()), "frame picture", "frame pictures")
            .c_str(),
        dir.c_str());
  }
  return true;
}

}  // namespace rebound_sim
