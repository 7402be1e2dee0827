#include "CMeasurementApp.h"

#include <QCoreApplication>

#include "CMeasurementDialog.h"
#include "app/settings/QtSettingsStore.h"

namespace korvel {

bool CMeasurementApp::InitInstance() {
    QCoreApplication::setOrganizationName(QtSettingsStore::kOrganisation);
    QCoreApplication::setApplicationName(QtSettingsStore::kApplication);
    QtSettingsStore store;
    {
        CMeasurementDialog dialog(store);  // loads the settings
        dialog.exec();
    }  // releases the instruments, then saves the settings
    store.Sync();
    return false;
}

}  // namespace korvel
