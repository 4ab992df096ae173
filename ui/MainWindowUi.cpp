#include "MainWindowUi.h"

#include <QCoreApplication>
#include <QIcon>

namespace {
constexpr int kSpacing = 6;
constexpr int kMargin = 11;

QSizePolicy fixedPolicyFor(const QWidget* widget) {
    QSizePolicy policy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    policy.setHorizontalStretch(0);
    policy.setVerticalStretch(0);
    policy.setHeightForWidth(widget->sizePolicy().hasHeightForWidth());
    return policy;
}

QIcon iconFrom(const char* resource) {
    QIcon icon;
    icon.addFile(QString::fromLatin1(resource), QSize(), QIcon::Normal, QIcon::Off);
    return icon;
}
}  // namespace

void MainWindowUi::setupUi(QMainWindow* window) {
    if (window->objectName().isEmpty()) window->setObjectName(QStringLiteral("MainWindow"));
    window->resize(500, 187);
    QSizePolicy windowPolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
    windowPolicy.setHorizontalStretch(0);
    windowPolicy.setVerticalStretch(0);
    windowPolicy.setHeightForWidth(window->sizePolicy().hasHeightForWidth());
    window->setSizePolicy(windowPolicy);
    window->setMaximumSize(QSize(500, 200));
    window->setWindowIcon(iconFrom(":/image/image/wlassistant_4408.png"));
    window->setDocumentMode(false);
    window->setDockNestingEnabled(false);

    action_open = new QAction(window);
    action_open->setObjectName(QStringLiteral("action_open"));

    centralWidget = new QWidget(window);
    centralWidget->setObjectName(QStringLiteral("centralWidget"));
    verticalLayout = new QVBoxLayout(centralWidget);
    verticalLayout->setSpacing(kSpacing);
    verticalLayout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));

    groupBox = new QGroupBox(centralWidget);
    groupBox->setObjectName(QStringLiteral("groupBox"));
    verticalLayout_3 = new QVBoxLayout(groupBox);
    verticalLayout_3->setSpacing(kSpacing);
    verticalLayout_3->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    verticalLayout_3->setObjectName(QStringLiteral("verticalLayout_3"));

    horizontalLayout_2 = new QHBoxLayout();
    horizontalLayout_2->setSpacing(kSpacing);
    horizontalLayout_2->setObjectName(QStringLiteral("horizontalLayout_2"));
    horizontalSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout_2->addItem(horizontalSpacer);

    BStart = new QPushButton(groupBox);
    BStart->setObjectName(QStringLiteral("BStart"));
    BStart->setSizePolicy(fixedPolicyFor(BStart));
    BStart->setMinimumSize(QSize(200, 35));
    BStart->setIconSize(QSize(32, 32));
    BStart->setCheckable(false);
    BStart->setAutoRepeat(false);
    BStart->setFlat(false);
    horizontalLayout_2->addWidget(BStart);

    horizontalSpacer_2 = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout_2->addItem(horizontalSpacer_2);
    verticalLayout_3->addLayout(horizontalLayout_2);

    horizontalLayout_7 = new QHBoxLayout();
    horizontalLayout_7->setSpacing(kSpacing);
    horizontalLayout_7->setObjectName(QStringLiteral("horizontalLayout_7"));
    CBCom = new QComboBox(groupBox);
    CBCom->setObjectName(QStringLiteral("CBCom"));
    CBCom->setMinimumSize(QSize(400, 0));
    horizontalLayout_7->addWidget(CBCom);

    BRefresh = new QPushButton(groupBox);
    BRefresh->setObjectName(QStringLiteral("BRefresh"));
    BRefresh->setSizePolicy(fixedPolicyFor(BRefresh));
    BRefresh->setMinimumSize(QSize(30, 30));
    BRefresh->setMaximumSize(QSize(30, 30));
    BRefresh->setIcon(iconFrom(":/image/image/adept_update_1970.png"));
    BRefresh->setIconSize(QSize(24, 24));
    BRefresh->setFlat(true);
    horizontalLayout_7->addWidget(BRefresh);
    verticalLayout_3->addLayout(horizontalLayout_7);

    verticalLayout->addWidget(groupBox);
    window->setCentralWidget(centralWidget);

    statusBar = new QStatusBar(window);
    statusBar->setObjectName(QStringLiteral("statusBar"));
    window->setStatusBar(statusBar);
    menuBar = new QMenuBar(window);
    menuBar->setObjectName(QStringLiteral("menuBar"));
    menuBar->setGeometry(QRect(0, 0, 500, 20));
    window->setMenuBar(menuBar);

    retranslateUi(window);
}

void MainWindowUi::retranslateUi(QMainWindow* window) {
    window->setWindowTitle(QCoreApplication::translate("MainWindow", "Утилита изменения частотного канала РЛ ЗАО"));
    action_open->setText(QCoreApplication::translate("MainWindow", "Открыть"));
    groupBox->setTitle(QString());
    BStart->setToolTip(QCoreApplication::translate("MainWindow", "Запрограммировать"));
    BStart->setText(QCoreApplication::translate("MainWindow", "Запрограммировать"));
    BRefresh->setToolTip(QCoreApplication::translate("MainWindow", "Обновить список COM портов"));
    BRefresh->setText(QString());
}
