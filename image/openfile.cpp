#include "window/serverinterface.h"

void ServerInterface::slotOpenFile()
{
}
