// The Qt implementation of the user-interface facade (quillnet_ui).
#pragma once

#include "platform/ui.h"

namespace ui {

class QtFacade : public Facade {
 public:
  int MessageBox(const std::string& text, const std::string& caption, unsigned style) override;
  std::string ChooseFile(const std::string& title, const std::string& dir, const std::string& filter,
                         bool save) override;
  int RunModal(const std::function<int()>& run) override;
};

}  // namespace ui
