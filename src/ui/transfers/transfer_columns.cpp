#include "ui/transfers/transfer_columns.h"

#include <algorithm>
#include <numeric>

namespace tiv::ui {

std::vector<int> fittedColumnWidths(const std::vector<int>& current, int width) {
    const double total = std::accumulate(current.begin(), current.end(), 0.0);
    std::vector<int> fitted(current.size());
    for (std::size_t column = 0; column < current.size(); ++column) {
        const int smallest = column < transfer_columns.size() ? transfer_columns[column].width : 0;
        const int share = total > 0 ? static_cast<int>(width * current[column] / total) : smallest;
        fitted[column] = std::max(share, smallest);
    }
    return fitted;
}

} // namespace tiv::ui
