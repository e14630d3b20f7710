<?xml version="1.0" encoding="UTF-8"?>
<!-- Peer for the benchmark: the Zantrel merge as one XSLT 1.0 style sheet with
     EXSLT (exsl:node-set, str:tokenize), for xsltproc.

       xsltproc -o OUT.xml -\-stringparam files "/abs/A.xml /abs/B.xml ..." merge.xsl /abs/A.xml

     `files`: all inputs in merge order, separated by spaces, as absolute paths
     or file: URIs (use percent-encoded file: URIs for names with spaces,
     brackets or other non-ASCII characters). The first one is the base and must be the source
     document given to xsltproc; it is not loaded a second time. The others are
     loaded with document().
     All chats (base first, then each other file's in order) are copied into one
     node-set; a key on number(@no) picks the first chat of each number
     (Muenchian grouping, so 007 == 7). Output: packet, the base's thread with
     last_res set to the `no` of the last kept chat, then the kept chats in order. -->
<xsl:stylesheet version="1.0"
    xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
    xmlns:exsl="http://exslt.org/common"
    xmlns:str="http://exslt.org/strings"
    extension-element-prefixes="exsl str"
    exclude-result-prefixes="exsl str">
  <xsl:output method="xml" encoding="UTF-8" indent="yes"/>
  <xsl:strip-space elements="*"/>

  <xsl:param name="files" select="''"/>

  <xsl:key name="by-no" match="chat" use="number(@no)"/>

  <xsl:template match="/">
    <xsl:variable name="base" select="/packet"/>
    <xsl:variable name="all-rtf">
      <xsl:copy-of select="$base/chat"/>
      <xsl:for-each select="str:tokenize($files, ' ')[position() &gt; 1]">
        <xsl:variable name="doc" select="document(string(.))"/>
        <xsl:if test="not($doc/packet)">
          <xsl:message terminate="yes">cannot load a packet from <xsl:value-of select="."/></xsl:message>
        </xsl:if>
        <xsl:copy-of select="$doc/packet/chat"/>
      </xsl:for-each>
    </xsl:variable>
    <xsl:variable name="all" select="exsl:node-set($all-rtf)/chat"/>
    <!-- key() looks in the document of the context node: the copied tree. -->
    <xsl:variable name="kept-rtf">
      <xsl:for-each select="$all">
        <xsl:if test="generate-id() = generate-id(key('by-no', number(@no))[1])">
          <xsl:copy-of select="."/>
        </xsl:if>
      </xsl:for-each>
    </xsl:variable>
    <xsl:variable name="kept" select="exsl:node-set($kept-rtf)/chat"/>
    <packet>
      <xsl:for-each select="$base/thread[1]">
        <xsl:copy>
          <xsl:copy-of select="@*"/>
          <xsl:attribute name="last_res">
            <xsl:value-of select="$kept[last()]/@no"/>
          </xsl:attribute>
        </xsl:copy>
      </xsl:for-each>
      <xsl:copy-of select="$kept"/>
    </packet>
  </xsl:template>
</xsl:stylesheet>
