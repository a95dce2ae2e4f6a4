// Page-set exchange: another device names the page set (a display
// configuration) this one shall use with command 0x1600; a name other than
// the active one ends the process through the post-run path, so that it can
// start again with the new set. The store of the active name is empty here:
// it always reads as empty.
#pragma once

#include <cstdint>

constexpr uint16_t CI_CMD_DISPLAY_PAGESET = 0x1600;
constexpr unsigned DISP_PAGESET_NAME_LEN = 16;

// Serves command 0x1600 (msg: the whole message). 1.
int display_pageset_cmd(unsigned char* msg);
// Sends the page-set name to device pid. The result of comint_put_cmd.
int display_pageset_tlc(unsigned short pid, const char* name);

void pageSetName_ini(void);
void pageSetName_100ms(void);
void pageSetName_getName(unsigned char* buffer, unsigned int length);
void pageSetName_putName(unsigned char* name, unsigned int length);
