// Reader of the XML logging configurations "cfg:/m01.xml" .. "cfg:/m03.xml"
// with the optional "cfg:/no_check.xml".
#pragma once

#include <cstdint>

#include "logging/config/meas_config.h"

class XmlScan;
class XmlTagParser;
class XmlVTabParser;

class measAppXmlLoad {
public:
    measAppXmlLoad();
    ~measAppXmlLoad();
    measAppXmlLoad(const measAppXmlLoad&) = delete;
    measAppXmlLoad& operator=(const measAppXmlLoad&) = delete;

    // Builds the configuration; throws the error text (with line and column)
    // on any fault, in which case nothing is returned and nothing leaks.
    // `source` names the file of the text in error texts (null: none).
    MEASConfiguration* getConfig(unsigned measIdx, const char* text, const char* unchecked,
                                 const char* source = nullptr);

    static constexpr unsigned kMaxSeqs = 20;
    static constexpr unsigned kMaxAddrs = 200;

private:
    struct CopySeq {
        int32_t num;
        int32_t size;
        int32_t align;
        uint32_t addr[kMaxAddrs];
    };

    void createParsers();
    void readAcqInfo();
    void readTeleInfo();
    void readBlock();
    void readCopySeq(int32_t numSeqs);
    void buildMeasList(BlkInfo& blk);
    void readCondition();
    void readUnchecked(const char* unchecked);
    void expectEmpty(int kind);
    void expectContent(int kind);

    XmlScan* scan_ = nullptr;
    XmlScan* uncheckedScan_ = nullptr;
    XmlTagParser* rootParser_ = nullptr;
    XmlTagParser* nameParser_ = nullptr;
    XmlTagParser* globCondParser_ = nullptr;
    XmlTagParser* pretrigParser_ = nullptr;
    XmlTagParser* blockParser_ = nullptr;
    XmlTagParser* seqParser_ = nullptr;
    XmlTagParser* adrParser_ = nullptr;
    XmlTagParser* condParser_ = nullptr;
    XmlTagParser* teleParser_ = nullptr;
    XmlVTabParser* rasterTab_ = nullptr;
    XmlVTabParser* teleModeTab_ = nullptr;

    // targets of the tag parsers
    char text_[MEAS_NAME_LEN];
    int32_t idx_, num_, size_, align_, condId_, teleBlk_, trueDiv_, falseDiv_, version_, protocol_;
    int16_t numBlocks_, numConditions_;
    int32_t raster_, teleMode_, pretrigger_;
    uint32_t adr_, baud_, pause_, projectCode_, softwareId_, telePort_, dataRate_;
    char teleIp_[32];
    float time_;

    CopySeq seqs_[kMaxSeqs];
    int32_t numSeqs_ = 0;
    uint8_t blockDefined_[MEAS_MAX_BLOCKS];
    uint8_t condDefined_[64];
    MEASConfiguration* cfg_ = nullptr;
};

// Parses the texts into a configuration; null (logged) when parsing failed.
MEASConfiguration* meas_app_xml_load(unsigned measIdx, const char* text, const char* unchecked,
                                     const char* source = nullptr);
