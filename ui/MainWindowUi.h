#pragma once
// The main window's widget tree: one pointer per named object. The widgets
// are children of the window and die with it; this holder only names them.

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QSpacerItem>
#include <QStatusBar>
#include <QVBoxLayout>
#include <QWidget>

class MainWindowUi {
public:
    QAction* action_open = nullptr;
    QWidget* centralWidget = nullptr;
    QVBoxLayout* verticalLayout = nullptr;
    QGroupBox* groupBox = nullptr;
    QVBoxLayout* verticalLayout_3 = nullptr;
    QHBoxLayout* horizontalLayout_2 = nullptr;
    QSpacerItem* horizontalSpacer = nullptr;
    QPushButton* BStart = nullptr;
    QSpacerItem* horizontalSpacer_2 = nullptr;
    QHBoxLayout* horizontalLayout_7 = nullptr;
    QComboBox* CBCom = nullptr;
    QPushButton* BRefresh = nullptr;
    QStatusBar* statusBar = nullptr;
    QMenuBar* menuBar = nullptr;

    void setupUi(QMainWindow* window);
    void retranslateUi(QMainWindow* window);
};
