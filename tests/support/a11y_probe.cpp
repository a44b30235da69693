// A small window for the accessibility harness's own test: what a screen
// reader should see of a label, a read-only field, a button and a table.
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setApplicationName("a11y_probe");

  QMainWindow window;
  window.setWindowTitle("Probe");
  auto* central = new QWidget(&window);
  auto* layout = new QVBoxLayout(central);

  auto* label = new QLabel("Not pressed yet", central);
  label->setObjectName("status");
  layout->addWidget(label);

  auto* path = new QLineEdit("/Applications/Probe.app", central);
  path->setReadOnly(true);
  path->setAccessibleName("Path");
  path->setAccessibleDescription("Where the probed file lives");
  layout->addWidget(path);

  auto* button = new QPushButton("Press Me", central);
  int presses = 0;
  QObject::connect(button, &QPushButton::clicked, label, [label, &presses] {
    ++presses;
    label->setText(QString("Pressed %1 time%2").arg(presses).arg(presses == 1 ? "" : "s"));
  });
  layout->addWidget(button);

  auto* disabled = new QPushButton("Unavailable", central);
  disabled->setEnabled(false);
  layout->addWidget(disabled);

  auto* table = new QTableWidget(3, 2, central);
  table->setAccessibleName("Attributes");
  table->setHorizontalHeaderLabels({"Key", "Value"});
  const char* rows[][2] = {{"Quarantine", "0083"}, {"Agent", "Firefox"}, {"Signed", "Developer ID"}};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 2; ++c) table->setItem(r, c, new QTableWidgetItem(rows[r][c]));
  table->horizontalHeader()->setStretchLastSection(true);
  layout->addWidget(table);

  window.setCentralWidget(central);
  window.resize(480, 360);
  window.show();
  return app.exec();
}
