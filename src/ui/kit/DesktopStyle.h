#pragma once

#include <QProxyStyle>

// The application's widget style: the desktop's own (the one Qt would choose), with the
// standard icons its widgets ask for as they are made (a menu bar's overflow button, a search
// field's clear button) read as PNG directly. Read the usual way, the first of them makes Qt
// load every image-format plugin and its libraries while the window is being built.
class DesktopStyle : public QProxyStyle {
public:
    QIcon standardIcon(StandardPixmap standardIcon, const QStyleOption* option = nullptr,
                       const QWidget* widget = nullptr) const override;
};
