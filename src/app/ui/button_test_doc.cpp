#include "app/ui/button_test_doc.h"

CButtonTestDoc::CButtonTestDoc(QObject* parent) : QObject(parent) {}
