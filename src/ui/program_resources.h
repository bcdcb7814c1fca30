#pragma once

#include <QIcon>

namespace tiv::ui {

// The pictures and texts built into the program. The resources live in a static library, where nothing would
// otherwise keep the linker from dropping them: call this before the first use.
void loadProgramResources();

// The program's icon, for its windows and the About box.
[[nodiscard]] QIcon programIcon();

} // namespace tiv::ui
