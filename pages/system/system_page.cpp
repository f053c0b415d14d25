// Handlers of the "System Parameters" page.
#include "app/main_window.h"

void TForm1::ConnectSystemPage() {}

void TForm1::ParseCommunicationReply() {}

void TForm1::ParseSystemParameterReply() {}
