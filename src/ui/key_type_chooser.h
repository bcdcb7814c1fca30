#pragma once

#include <QDialog>
#include <QListWidget>
#include <cstdint>

namespace tiv::ui {

// The session key types allowed with a friend, chosen among those the provider offers.
class KeyTypeChooser final : public QDialog {
    Q_OBJECT
public:
    KeyTypeChooser(std::uint32_t offered, std::uint32_t chosen, QWidget* parent = nullptr);

    [[nodiscard]] std::uint32_t chosen() const;

private:
    QListWidget* m_pTypes = nullptr;
};

} // namespace tiv::ui
