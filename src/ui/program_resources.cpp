#include "ui/program_resources.h"

// Outside any namespace: the macro declares the generated registration function where it stands.
static void registerBuiltInResources() {
    Q_INIT_RESOURCE(ui);
}

namespace tiv::ui {

void loadProgramResources() {
    registerBuiltInResources();
}

QIcon programIcon() {
    return QIcon(":/quorvel/quorvel.png");
}

} // namespace tiv::ui
