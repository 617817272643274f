// Placeholder until the class lands.
#include "dib/cDIBSection.h"

#include "platform/services.h"
#include "runtime/runtime_error.h"

namespace zorvani {

cDIBSection::cDIBSection() : cDIBSection(*platform::Current().gdi, *platform::Current().files) {}
cDIBSection::cDIBSection(platform::Gdi& gdi, platform::Files& files) : gdi_(gdi), files_(files) {}
cDIBSection::~cDIBSection() = default;
void cDIBSection::CreateFromPicture(const platform::Picture&) { Raise(kErrInternal); }
void cDIBSection::drawRectPerc(double, double, double, double, double, std::int16_t, std::int16_t, std::int16_t) {
  Raise(kErrInternal);
}
Boolean cDIBSection::SavePicture(const std::string&) { Raise(kErrInternal); }

}  // namespace zorvani
