#include "ui/key_type_chooser.h"

#include <QDialogButtonBox>
#include <QVBoxLayout>

#include "app/friend_form.h"

namespace tiv::ui {

KeyTypeChooser::KeyTypeChooser(std::uint32_t offered, std::uint32_t chosen, QWidget* parent) : QDialog(parent) {
    setObjectName("KeyTypeChooser");
    setWindowTitle("Encryption Methods");
    m_pTypes = new QListWidget(this);
    m_pTypes->setObjectName("keyTypes");
    for (std::uint32_t bit = 0x800; bit != 0; bit >>= 1) {
        if ((offered & bit) == 0) {
            continue;
        }
        auto* item = new QListWidgetItem(QString::fromStdString(app::friend_key_type_name(bit)), m_pTypes);
        item->setData(Qt::UserRole, bit);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState((chosen & bit) != 0 ? Qt::Checked : Qt::Unchecked);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pTypes);
    layout->addWidget(buttons);
}

std::uint32_t KeyTypeChooser::chosen() const {
    std::uint32_t mask = 0;
    for (int row = 0; row < m_pTypes->count(); ++row) {
        const QListWidgetItem* item = m_pTypes->item(row);
        if (item->checkState() == Qt::Checked) {
            mask |= item->data(Qt::UserRole).toUInt();
        }
    }
    return mask;
}

} // namespace tiv::ui
