// Writes an animated GIF frame by frame with giflib.
//
// The constructor creates the file and writes the screen description and the loop extension;
// each `append` quantises one cairo image to its own 256-colour palette and adds it with the
// frame delay; `close` finishes the file. The destructor closes a writer that was not closed,
// swallowing errors (call close() to see them; a file without frames is then left invalid).
// Not copyable; movable.
#pragma once

#include <cairo.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace birdseye {

class GifError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class GifWriter {
 public:
  // `delay_cs`: time each frame is shown, hundredths of a second (0..65535). `loop_count`: how
  // often the viewer replays the strip, 0 for forever (0..65535). Throws std::invalid_argument for
  // sizes outside 1..65535 or a delay or loop count out of range, GifError naming `path` when the
  // file cannot be created.
  GifWriter(const std::string& path, int width_px, int height_px, int delay_cs = 10,
            int loop_count = 0);
  ~GifWriter();
  GifWriter(GifWriter&&) noexcept;
  GifWriter& operator=(GifWriter&&) noexcept;
  GifWriter(const GifWriter&) = delete;
  GifWriter& operator=(const GifWriter&) = delete;

  // Adds an ARGB32 or RGB24 image of the writer's size. Throws std::invalid_argument for another
  // size or format, std::logic_error after close, GifError when writing fails.
  void append(cairo_surface_t* image);
  // Finishes the file. A GIF needs a frame: without one the file is removed and GifError thrown.
  // Throws GifError naming the path when giflib reports a failure. Closing twice does nothing.
  void close();

  int framesWritten() const { return frames_written_; }

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
  std::string path_;
  int width_px_{0};
  int height_px_{0};
  int delay_cs_{0};
  int frames_written_{0};
};

}  // namespace birdseye
