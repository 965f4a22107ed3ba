// Placeholder until the job queue lands on this branch: keeps the branch building. Replaced by the
// delegation to JobQueue; no job intake runs while this file exists.
#include "MainWindow.h"

bool MainWindow::askNoCardChoice(NoCardChoice*)
{
    return false;
}
void MainWindow::initJobIntake() {}
void MainWindow::stopJobIntake() {}
void MainWindow::initialCheck4JobPath() {}
void MainWindow::timerCallback() {}
bool MainWindow::jobIntakeRunning() const
{
    return false;
}
bool MainWindow::initJobControlOption()
{
    return true;
}
