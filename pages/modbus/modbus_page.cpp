// Handlers of the "MODBUS Parameter Configuration" page.
#include "app/main_window.h"

void TForm1::ConnectModbusPage() {}

void TForm1::ParseModbusParameterReply() {}
