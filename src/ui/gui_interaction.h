// Message boxes as windows while the windows run: a Qt message box with the icon
// and buttons the caller asks for, parented to the active window; and a message
// pump that lets the windows repaint and their Abort buttons work in long loops.
#pragma once

#include "support/interaction.h"

namespace qb::ui {

class GuiInteraction : public Interaction {
  public:
    MsgAnswer messageBox(std::string_view text, MsgIcon icon, MsgButtons buttons) override;
    void processMessages() override;
};

}  // namespace qb::ui
