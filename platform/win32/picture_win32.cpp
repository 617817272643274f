// Placeholder until the backend lands.
#include "platform/picture.h"
#include "runtime/runtime_error.h"

namespace platform {
namespace {
class NoPictures : public PictureLoader {
 public:
  std::unique_ptr<Picture> LoadPicture(const std::string&) override { zorvani::Raise(zorvani::kErrFileNotFound); }
};
}  // namespace
PictureLoader& SystemPictureLoader() { static NoPictures loader; return loader; }
}  // namespace platform
