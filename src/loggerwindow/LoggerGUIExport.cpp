// The logger window's exports for editing software: a context menu on
// "Save EDL" and Ctrl+E, which shows the same format list at the button. The
// placed widgets stay as they are.
#include <QAction>
#include <QMenu>
#include <QPushButton>

#include "loggerwindow/LoggerGUI.h"

namespace morvia {

void LoggerGUI::buildExportMenu() {
    SaveMenu = new QMenu(this);
    ExportMenu = SaveMenu->addMenu(QStringLiteral("Export for editing software ..."));
    const edlexport::Format formats[] = {edlexport::Format::Cmx3600, edlexport::Format::Ale, edlexport::Format::Csv};
    auto core_ptr = core_;
    for (std::size_t i = 0; i < ExportActions.size(); ++i) {
        const edlexport::Format f = formats[i];
        const QString label = QString::fromStdString(std::string(edlexport::displayName(f)) + " (" +
                                                     std::string(edlexport::suffix(f)) + ") ...");
        ExportActions[i] = ExportMenu->addAction(label);
        QObject::connect(ExportActions[i], &QAction::triggered, this,
                         [this, core_ptr, f] { post([core_ptr, f] { core_ptr->exportPressed(f); }); });
    }
    SaveButton->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(SaveButton, &QWidget::customContextMenuRequested, this,
                     [this](const QPoint& pos) { SaveMenu->popup(SaveButton->mapToGlobal(pos)); });
}

void LoggerGUI::showExportMenu() { ExportMenu->popup(SaveButton->mapToGlobal(QPoint(0, SaveButton->height()))); }

}  // namespace morvia
