#include "tests/viewer/shell/media_graph_fixtures.h"

#include <gst/gst.h>
#include <stdlib.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "platform/com/utf.h"
#include "platform/graph/graph_objects.h"
#include "tools/simulated_aircraft/signal_renderer.h"
#include "tools/simulated_aircraft/synthetic_flight.h"
#include "tools/simulated_aircraft/wav_writer.h"

namespace {

namespace fs = std::filesystem;

// The decoder library is registered in a registry of the run's own, and
// files play as fast as they decode unless a test asks otherwise.
class Environment final : public ::testing::Environment {
 public:
  void SetUp() override {
    gst_init(nullptr, nullptr);
    SetGraphRenderingOptions({.realTime = false, .audioDevice = false});
    std::string pattern = (fs::temp_directory_path() / "mediagraph-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
    // The viewer's KML files go to the user's private temporary folder;
    // tests run side by side, so each gets a temporary folder of its own.
    fs::create_directories(folder_ / "tmp");
    ::setenv("TMPDIR", (folder_ / "tmp").c_str(), 1);
    ::unsetenv("VISTARO_COMPONENT_REGISTRY");
    ::setenv("XDG_CONFIG_HOME", (folder_ / "config").c_str(), 1);
    const std::string command =
        std::string("\"") + REGSVR_PATH + "\" \"" + QUORVEX_LIBRARY_PATH + "\" >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("could not register");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  const fs::path& Folder() const { return folder_; }

 private:
  fs::path folder_;
};

Environment* const environment = static_cast<Environment*>(
    ::testing::AddGlobalTestEnvironment(std::make_unique<Environment>().release()));

std::string Location(const fs::path& path) { return "location=\"" + path.string() + "\""; }

void Launch(const std::string& pipeline, const fs::path& output) {
  const std::string command = "gst-launch-1.0 -q " + pipeline + " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0 || !fs::exists(output)) {
    throw std::runtime_error("could not make " + output.string() + " with: " + command);
  }
}

media::File MakeWav(const std::string& name, double seconds) {
  using namespace simulated_aircraft;
  media::File file{media::Folder() / name, 0};
  const auto flight = SyntheticFlight(seconds - 1.0);
  const FrameCounts counts = CountFrames(flight);
  file.frames = counts.position + counts.uplink + counts.battery;
  SignalOptions options;
  options.minSeconds = seconds;
  WriteWav(file.path, WavFormat{}, RenderSignal(flight, options));
  return file;
}

// "VIDEO" in `pipeline` stands for a test picture of the audio's length,
// "AUDIO" for the WAV.
media::File Encode(const media::File& wav, double seconds, const std::string& name,
                   std::string pipeline) {
  media::File file{media::Folder() / name, wav.frames};
  const std::string video = "videotestsrc num-buffers=" + std::to_string(int(seconds * 10)) +
                            " ! video/x-raw,width=160,height=120,framerate=10/1";
  const std::string audio = "filesrc " + Location(wav.path) + " ! wavparse ! audioconvert";
  for (auto [key, value] : {std::pair{"VIDEO", video}, std::pair{"AUDIO", audio}}) {
    if (auto at = pipeline.find(key); at != std::string::npos) {
      pipeline.replace(at, std::string(key).size(), value);
    }
  }
  Launch(pipeline + " ! filesink " + Location(file.path), file.path);
  return file;
}

}  // namespace

namespace media {

fs::path Folder() { return environment->Folder(); }

File LongWav() {
  static const File file = MakeWav("flight.wav", kLongSeconds);
  return file;
}

File ShortWav() {
  static const File file = MakeWav("short.wav", kShortSeconds);
  return file;
}

File VideoAndAudioMkv() {
  static const File file =
      Encode(LongWav(), kLongSeconds, "flight.mkv",
             "AUDIO ! flacenc ! mux. VIDEO ! x264enc speed-preset=ultrafast tune=zerolatency "
             "! mux. matroskamux name=mux");
  return file;
}

File Asf() {
  static const File file = Encode(ShortWav(), kShortSeconds, "flight.asf",
                                  "AUDIO ! avenc_wmav2 bitrate=192000 ! mux. VIDEO ! videoconvert "
                                  "! avenc_wmv2 ! mux. asfmux name=mux streamable=true");
  return file;
}

File AsfNamed(const std::string& name) {
  File copy = Asf();
  if (copy.path.filename() == name) return copy;
  const fs::path renamed = Folder() / name;
  fs::copy_file(copy.path, renamed, fs::copy_options::overwrite_existing);
  copy.path = renamed;
  return copy;
}

File Mpg() {
  static const File file = Encode(ShortWav(), kShortSeconds, "flight.mpg",
                                  "AUDIO ! twolamemp2enc bitrate=192 ! mux. VIDEO ! videorate "
                                  "! video/x-raw,framerate=25/1 ! videoconvert "
                                  "! video/x-raw,format=I420 ! mpeg2enc ! mux. mpegpsmux name=mux");
  return file;
}

File VideoOnlyMkv() {
  static const File file = Encode(File{}, kShortSeconds, "video-only.mkv",
                                  "VIDEO ! x264enc speed-preset=ultrafast ! matroskamux");
  return file;
}

File TwoAudioStreamsMkv() {
  static const File file = [] {
    const File wav = ShortWav();
    const std::string audio =
        "filesrc " + Location(wav.path) + " ! wavparse ! audioconvert ! flacenc";
    File made{Folder() / "two-audio.mkv", wav.frames};
    Launch(audio + " ! mux. " + audio + " ! mux. matroskamux name=mux ! filesink " +
               Location(made.path),
           made.path);
    return made;
  }();
  return file;
}

File MpgInAsfFolder() {
  static const File file = [] {
    File copy = Mpg();
    const fs::path folder = Folder() / "Flights.ASF";
    fs::create_directories(folder);
    fs::copy_file(copy.path, folder / "flight.mpg", fs::copy_options::overwrite_existing);
    copy.path = folder / "flight.mpg";
    return copy;
  }();
  return file;
}

}  // namespace media

void RecordingMessages::ShowMessage(const IVideoArea* owner, std::u16string_view text,
                                    std::u16string_view caption, MessageIcon) {
  shown.push_back({owner != nullptr, Utf16ToUtf8(text), Utf16ToUtf8(caption)});
}

std::vector<std::string> RecordingMessages::Texts() const {
  std::vector<std::string> texts;
  for (const auto& m : shown) texts.push_back(m.text);
  return texts;
}

void RecordingArea::PlaceVideo(long left, long top, long width, long height) {
  placed[0] = left;
  placed[1] = top;
  placed[2] = width;
  placed[3] = height;
}

void RecordingArea::PostNotify(long message, LONG_PTR instance) {
  lastMessage = message;
  lastInstance = instance;
  ++notifications;
}

HRESULT ScriptedServices::CreateObject(REFCLSID clsid, DWORD, REFIID iid, void** object) {
  return platform_.CreateObject(clsid, iid, object);
}

ComPtr<IQuorvex> ControlOf(IBaseFilter* decoder) {
  ComPtr<IQuorvex> control;
  if (decoder) decoder->QueryInterface(IID_IQuorvex, control.PutVoid());
  return control;
}

PacketCounts CountsOf(IBaseFilter* decoder) {
  PacketCounts counts;
  if (auto control = ControlOf(decoder)) control->GetPacketCounts(&counts.good, &counts.bad);
  return counts;
}

bool WaitForCompletion(MediaGraph& graph, double seconds) {
  IMediaEventEx* events = graph.MediaEvents();
  if (!events) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    long code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    if (events->GetEvent(&code, &p1, &p2, 100) != S_OK) continue;
    events->FreeEventParams(code, p1, p2);
    if (code == EC_COMPLETE) return true;
  }
  return false;
}

bool WaitForFrames(IBaseFilter* decoder, int frames, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (CountsOf(decoder).good < frames) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::u16string Wide(const fs::path& path) { return Utf8ToUtf16(path.string()); }

std::string Feeder(IBaseFilter* filter, const char16_t* pinId) {
  ComPtr<IPin> input;
  if (!filter || FAILED(filter->FindPin(pinId, input.Put()))) return {};
  return PeerElementName(input.Get());
}
