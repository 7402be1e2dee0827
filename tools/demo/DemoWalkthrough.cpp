// korvel-demo: Korvel's whole job, clicked through as a user would, against a running korvel-sim.
// It drives the real main window (its buttons, fields and timer), answers the connect dialog,
// takes screenshots, and prints what it measured against the simulator's truth.
#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>

#include "app/settings/QtSettingsStore.h"
#include "app/ui/CConnectDialog.h"
#include "app/ui/CMeasurementDialog.h"
#include "instrument/CVisaDevice.h"
#include "instrument/NumberText.h"
#include "visa/VendorLibrary.h"

using namespace korvel;

namespace {

double CircleDistance(double a, double b) {
    const double d = std::fmod(std::fabs(a - b), 360.0);
    return d > 180.0 ? 360.0 - d : d;
}

class Walkthrough {
public:
    Walkthrough(CMeasurementDialog& dialog, QString outDir, QString generator1, QString analyzer)
        : m_dialog(dialog),
          m_out(std::move(outDir)),
          m_generator1(std::move(generator1)),
          m_analyzer(std::move(analyzer)) {
        // Boxes that come up on their own are reported and closed, so the walkthrough never hangs.
        QObject::connect(&m_boxWatch, &QTimer::timeout, [this] { CloseStrayBox(); });
        m_boxWatch.start(50);
    }

    // Runs inside the connect dialog's own loop: picture it, then press OK.
    void AnswerConnectDialog() {
        QTimer::singleShot(300, [this] {
            if (auto* connect = qobject_cast<CConnectDialog*>(QApplication::activeModalWidget())) {
                Save(connect->grab(), "connect-dialog.png");
                if (auto* ok = connect->findChild<QPushButton*>())
                    ok->click();
            } else {
                AnswerConnectDialog();
            }
        });
    }

    int Run() {
        Step("connected to the simulated bench", m_dialog.IsConnected());
        Save(m_dialog.grab(), "main-window-connected.png");
        if (!m_dialog.IsConnected())
            return Finish();

        Click(CMeasurementDialog::IDC_SETUP);
        Step("Setup VRx", true);

        Click(CMeasurementDialog::IDC_GET_PHASE_SINGLE);
        const double truth = Truth();
        const double measured = m_dialog.PhaseResult();
        std::printf(
            "demo: GetPhaseSingle measured %.3f deg, simulator truth %.3f deg, error %.3f deg\n",
            measured, truth, CircleDistance(measured, truth));
        Step("single measurement within 0.1 deg of the truth",
             CircleDistance(measured, truth) <= 0.1);
        Save(m_dialog.grab(), "main-window-measured.png");

        // A short sweep: 3 frequencies by 4 levels.
        SetField(CMeasurementDialog::IDC_START_FREQ, "100");
        SetField(CMeasurementDialog::IDC_STOP_FREQ, "300");
        SetField(CMeasurementDialog::IDC_STEP_FREQ, "100");
        SetField(CMeasurementDialog::IDC_START_LEVEL, "-25");
        SetField(CMeasurementDialog::IDC_STOP_LEVEL, "-10");
        SetField(CMeasurementDialog::IDC_STEP_LEVEL, "5");
        Click(CMeasurementDialog::IDC_START_SWEEP);
        WaitUntil([this] { return m_dialog.Sweep().CompletedSteps() >= 6; }, 60000);
        Save(m_dialog.grab(), "main-window-sweeping.png");
        Step("sweep finished", WaitUntil([this] { return !m_dialog.RunActive(); }, 120000));
        std::printf("demo: sweep status \"%s\"\n", m_dialog.StatusText().c_str());
        Step("PhaseLogSweep.csv written",
             m_dialog.StatusText() == "File PhaseLogSweep.csv written");

        // Adjust to 0 degrees between grid points: the paths should then be in phase.
        {
            CVisaDevice generator(m_generator1.toStdString());
            generator.Query("FREQ 150000000;*OPC?");
            generator.Query("SOURCE1:POW:POW -17.5;*OPC?");
            generator.Query("SOURCE2:POW:POW -17.5;*OPC?");
        }
        Click(CMeasurementDialog::IDC_ADJUST_TO_ZERO);
        double secondPath = 0.0;
        {
            CVisaDevice generator(m_generator1.toStdString());
            secondPath = ParseLeadingDouble(generator.Query("SOURCE2:BB:POFF?"));
        }
        const double inPhaseError =
            CircleDistance(m_dialog.PhaseResult() - secondPath, Truth() + 180.0);
        std::printf(
            "demo: Adjust to 0 deg set %.2f deg at 150 MHz, -17.5 dBm; paths %.3f deg from in phase\n",
            m_dialog.PhaseResult(), inPhaseError);
        Step("adjust to 0 deg within 0.5 deg of in phase", inPhaseError <= 0.5);
        Save(m_dialog.grab(), "main-window-adjusted.png");

        Click(CMeasurementDialog::IDC_GET_PHASE_SINGLE);
        Click(CMeasurementDialog::IDC_ADJUST_LEVELS);
        Step("Adjust Levels", true);

        SetField(CMeasurementDialog::IDC_PERIOD, "0.5");
        Click(CMeasurementDialog::IDC_GET_PHASE_CONT);
        const bool sampled = WaitUntil([this] { return m_dialog.SampleCount() >= 4; }, 60000);
        Save(m_dialog.grab(), "main-window-continuous.png");
        Click(CMeasurementDialog::IDC_STOP);
        std::printf(
            "demo: continuous run of %d samples, average %.3f deg, deviation %.3f deg; status \"%s\"\n",
            m_dialog.SampleCount(), m_dialog.AveragePhase(), m_dialog.Deviation(),
            m_dialog.StatusText().c_str());
        Step("continuous run logged",
             sampled && m_dialog.StatusText() == "File PhaseLogCont.csv written");
        Save(m_dialog.grab(), "main-window-stopped.png");
        return Finish();
    }

private:
    int Finish() {
        m_dialog.close();
        for (const char* file : {"PhaseLogSweep.csv", "PhaseLogCont.csv"}) {
            QFileInfo info(file);
            std::printf("demo: %s %s\n", file,
                        info.exists() ? qPrintable(QString("written, %1 bytes").arg(info.size()))
                                      : "not written");
        }
        std::printf("demo: %d of %d steps passed; screenshots in %s\n", m_passed, m_steps,
                    qPrintable(m_out));
        return m_passed == m_steps ? 0 : 1;
    }

    void Step(const char* what, bool ok) {
        ++m_steps;
        m_passed += ok;
        std::printf("demo: %-50s %s\n", what, ok ? "ok" : "FAILED");
        std::fflush(stdout);
    }

    double Truth() {
        CVisaDevice analyzer(m_analyzer.toStdString());
        return ParseLeadingDouble(analyzer.Query("SIM:CANC:PHAS?"));
    }

    void Click(int id) {
        auto* button = m_dialog.findChild<QPushButton*>(CMeasurementDialog::ControlName(id));
        if (button && button->isEnabled())
            button->click();
        QCoreApplication::processEvents();
    }

    void SetField(int id, const QString& text) {
        if (auto* edit = m_dialog.findChild<QLineEdit*>(CMeasurementDialog::ControlName(id)))
            edit->setText(text);
    }

    bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
        QElapsedTimer clock;
        clock.start();
        while (!done()) {
            if (clock.elapsed() > timeoutMs)
                return false;
            QEventLoop loop;
            QTimer::singleShot(50, &loop, &QEventLoop::quit);
            loop.exec();
        }
        return true;
    }

    void CloseStrayBox() {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            std::printf("demo: message box: %s\n", qPrintable(box->text().replace('\n', " / ")));
            Save(box->grab(), "message-box.png");
            box->accept();
        }
    }

    void Save(const QPixmap& picture, const char* name) {
        const QString path = QDir(m_out).filePath(name);
        if (picture.save(path))
            std::printf("demo: screenshot %s\n", qPrintable(path));
    }

    CMeasurementDialog& m_dialog;
    QString m_out;
    QString m_generator1;
    QString m_analyzer;
    QTimer m_boxWatch;
    int m_steps = 0;
    int m_passed = 0;
};

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    std::setlocale(LC_TIME, "C");
    // The VISA layer's one line about the library it uses (or could not load) goes to standard
    // error.
    visa::SetNoticeSink(
        [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Clicks through Korvel's whole job against a running korvel-sim: connect, Setup VRx, GetPhaseSingle, "
        "a short sweep, Adjust to 0 deg, Adjust Levels, a continuous run and Stop. Uses the settings store of the "
        "environment (scripts/demo points it at a separate one).");
    parser.addHelpOption();
    parser.addOption({"out", "Directory for the screenshots.", "dir", "."});
    parser.addOption(
        {"generator1", "Resource string of generator 1 (for the in-between tuning).", "resource"});
    parser.addOption(
        {"analyzer", "Resource string of the analyzer (for the simulator's truth).", "resource"});
    parser.process(application);
    QDir().mkpath(parser.value("out"));

    QCoreApplication::setOrganizationName(QtSettingsStore::kOrganisation);
    QCoreApplication::setApplicationName(QtSettingsStore::kApplication);
    QtSettingsStore store;
    int result = 1;
    {
        CMeasurementDialog dialog(store);
        Walkthrough walkthrough(dialog, parser.value("out"), parser.value("generator1"),
                                parser.value("analyzer"));
        walkthrough.AnswerConnectDialog();
        dialog.show();  // the connect dialog comes first, then the window
        result = walkthrough.Run();
    }
    store.Sync();
    return result;
}
