// Placeholder until the backend lands.
#include "platform/form.h"

namespace platform {
struct HiddenForm::State { FormHandlers handlers; };
HiddenForm::HiddenForm() : state_(new State) {}
HiddenForm::~HiddenForm() { delete state_; }
void HiddenForm::Load(const std::string&, unsigned, FormHandlers handlers) {
  state_->handlers = std::move(handlers);
  if (state_->handlers.load) state_->handlers.load();
}
int HiddenForm::RunMessageLoop() { return 0; }
}  // namespace platform
