// Replaced by the real start-up sequence.
#include <QCoreApplication>
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    return 0;
}
