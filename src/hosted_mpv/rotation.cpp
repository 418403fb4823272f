#include "rotation.h"

#include <mpv/client.h>

#include <cstdlib>
#include <cstring>

namespace hosted_mpv {

void takeOverRotation(Session& session) {
  char* value = mpv_get_property_string(session.mpv, "video-rotate");
  int requested = 0;
  if (value) {
    requested = std::strcmp(value, "no") == 0 ? -1 : std::atoi(value);
    mpv_free(value);
  }
  session.requestedRotation = requested;
  mpv_set_property_string(session.mpv, "video-rotate", "no");
}

int effectiveRotation(int streamRotation, int requested) {
  if (requested < 0) return 0;
  int total = ((streamRotation + requested) % 360 + 360) % 360;
  return (total + 45) / 90 % 4 * 90;
}

void rotatePixels(const uint8_t* source, size_t sourceStride, int sourceWidth, int sourceHeight,
                  int rotation, uint8_t* target, size_t targetStride) {
  auto sourceAt = [&](int x, int y) {
    uint32_t pixel;
    std::memcpy(&pixel, source + size_t(y) * sourceStride + size_t(x) * 4, 4);
    return pixel;
  };
  auto store = [&](int x, int y, uint32_t pixel) {
    std::memcpy(target + size_t(y) * targetStride + size_t(x) * 4, &pixel, 4);
  };
  if (rotation == 180) {
    for (int y = 0; y < sourceHeight; ++y) {
      for (int x = 0; x < sourceWidth; ++x) {
        store(sourceWidth - 1 - x, sourceHeight - 1 - y, sourceAt(x, y));
      }
    }
    return;
  }
  if (rotation != 90 && rotation != 270) return;
  // Square tiles keep both the rows read and the rows written in cache.
  constexpr int kTile = 32;
  for (int tileY = 0; tileY < sourceHeight; tileY += kTile) {
    for (int tileX = 0; tileX < sourceWidth; tileX += kTile) {
      int endY = tileY + kTile < sourceHeight ? tileY + kTile : sourceHeight;
      int endX = tileX + kTile < sourceWidth ? tileX + kTile : sourceWidth;
      for (int y = tileY; y < endY; ++y) {
        for (int x = tileX; x < endX; ++x) {
          // A clockwise quarter turn moves the top row to the right column.
          if (rotation == 90) {
            store(sourceHeight - 1 - y, x, sourceAt(x, y));
          } else {
            store(y, sourceWidth - 1 - x, sourceAt(x, y));
          }
        }
      }
    }
  }
}

}  // namespace hosted_mpv
