<?xml version="1.0" encoding="UTF-8"?>
<!-- Peer for the benchmark: the Zantrel merge as one XSLT 3.0 style sheet,
     for Saxon-HE.

       java -cp /usr/share/java/Saxon-HE.jar net.sf.saxon.Transform -it:main \
            -xsl:merge3.xsl -o:OUT.xml files="/abs/A.xml /abs/B.xml ..."

     `files`: all inputs in merge order, separated by white space, as absolute
     paths or file: URIs (percent-encoded for names with spaces). The first one
     is the base. The chats of all files, in file order, are grouped by
     xs:integer(@no) (so 007 = 7); the first chat of each group is kept, groups
     in order of first appearance. Output: packet, the base's thread with
     last_res set to the `no` of the last kept chat, then the kept chats. -->
<xsl:stylesheet version="3.0"
    xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
    xmlns:xs="http://www.w3.org/2001/XMLSchema"
    exclude-result-prefixes="xs">
  <!-- The line breaks are written by hand, one element a line as the other
       tools do: Saxon's indent="yes" puts attributes on lines of their own past
       80 columns, and Saxon-HE cannot change that line length. -->
  <xsl:output method="xml" encoding="UTF-8" indent="no"/>

  <xsl:param name="files" as="xs:string" required="yes"/>

  <xsl:template name="main">
    <xsl:variable name="docs" as="document-node()*"
        select="for $f in tokenize(normalize-space($files), ' ') return doc($f)"/>
    <xsl:if test="count($docs) lt 2 or exists($docs[not(packet)])">
      <xsl:message terminate="yes">need at least two comment files (root packet)</xsl:message>
    </xsl:if>
    <!-- "for" keeps the files' order (a path expression over several documents
         would sort them in an implementation-defined order). -->
    <xsl:variable name="kept" as="element(chat)*">
      <xsl:for-each-group select="for $d in $docs return $d/packet/chat"
          group-by="xs:integer(normalize-space(@no))">
        <xsl:sequence select="current-group()[1]"/>
      </xsl:for-each-group>
    </xsl:variable>
    <packet>
      <xsl:text>&#10;  </xsl:text>
      <xsl:for-each select="$docs[1]/packet/thread[1]">
        <xsl:copy>
          <xsl:copy-of select="@*"/>
          <xsl:attribute name="last_res" select="$kept[last()]/@no"/>
        </xsl:copy>
      </xsl:for-each>
      <xsl:for-each select="$kept">
        <xsl:text>&#10;  </xsl:text>
        <xsl:copy-of select="."/>
      </xsl:for-each>
      <xsl:text>&#10;</xsl:text>
    </packet>
  </xsl:template>
</xsl:stylesheet>
